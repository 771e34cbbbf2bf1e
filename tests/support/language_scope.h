#pragma once

// Sets the interface language for its lifetime, so a test that checks a
// message in one language leaves the next test the language it found.

#include "config/settings.h"

class LanguageScope {
public:
    explicit LanguageScope(Language language) : saved(appSettings().language.exchange(language)) {}
    ~LanguageScope() { appSettings().language.exchange(saved); }
    LanguageScope(const LanguageScope&) = delete;
    LanguageScope& operator=(const LanguageScope&) = delete;

private:
    Language saved;
};
