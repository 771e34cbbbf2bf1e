#pragma once

// Sets the interface language (1 English, 0 Russian) for its lifetime, so a test that checks a
// message in one language leaves the next test the language it found.

#include "config/settings.h"

class LanguageScope {
public:
    explicit LanguageScope(int language) : saved(appSettings().language.exchange(language)) {}
    ~LanguageScope() { appSettings().language.exchange(saved); }
    LanguageScope(const LanguageScope&) = delete;
    LanguageScope& operator=(const LanguageScope&) = delete;

private:
    int saved;
};
