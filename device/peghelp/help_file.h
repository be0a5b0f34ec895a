// A help file of the device: HTML in UTF-8, its topics marked by <a name="ANCHOR">.
#pragma once
#include <string>

struct HelpTopic {
    std::wstring title; // the topic's first heading
    std::wstring text;  // its text without markup, paragraphs on lines of their own
};

// Loads FILE from \Windows; false when it cannot be read.
bool LoadHelpFile(const std::wstring& file, std::wstring* html);

// The topic at the anchor, or the top of the file when the anchor is empty or missing.
HelpTopic FindTopic(const std::wstring& html, const std::wstring& anchor);
