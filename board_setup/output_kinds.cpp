// Looking the output kinds up by name and by number.
#include "board_setup/output_kinds.h"

#include <string>

std::optional<OutputKind> findOutputKind(std::string_view option) {
    for (const OutputKind& kind : outputKinds)
        if (option == kind.option) return kind;
    return std::nullopt;
}

std::optional<OutputKind> outputKindOf(std::uint8_t variant) {
    for (const OutputKind& kind : outputKinds)
        if (variant == kind.variant) return kind;
    return std::nullopt;
}

const char* outputKindOptions() {
    static const std::string options = [] {
        std::string text;
        for (const OutputKind& kind : outputKinds)
            text += (text.empty() ? "" : ", ") + std::string(kind.option);
        return text;
    }();
    return options.c_str();
}
