"""End-to-end suites: the real ventora.exe under Wine, driven as a user would drive it."""
