#pragma once
// The switch page, served by the daemon itself: its HTML in the browser's
// language (the window's Russian, or English), its script and its style.
// Nothing of it comes from anywhere else.

#include <string>
#include <string_view>

struct TWebAsset {
    std::string_view Type;  // Content-Type
    std::string_view Body;
};

// "/app.js", "/style.css", "/lamp.svg"; nullptr for anything else.
const TWebAsset* FindWebAsset(std::string_view path);

// The page for an Accept-Language header: English when the browser puts
// English before Russian, the window's Russian otherwise.
std::string WebPage(std::string_view acceptLanguage);
bool PrefersEnglish(std::string_view acceptLanguage);
