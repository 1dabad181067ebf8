// A COM interface pointer released when it goes out of scope: the firewall's and the network list's
// objects are asked a few things and let go, on every path.
#pragma once

template <typename Interface> struct ComHolder {
    Interface* pointer = nullptr;
    ComHolder() = default;
    ComHolder(const ComHolder&) = delete;
    ComHolder& operator=(const ComHolder&) = delete;
    ~ComHolder() {
        if (pointer) pointer->Release();
    }
};
