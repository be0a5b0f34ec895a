#include "help_file.h"
#include <windows.h>
#include <cwctype>

namespace {

constexpr DWORD MaxHelpFile = 1 << 20;

struct Entity {
    const wchar_t* name;
    wchar_t character;
};

constexpr Entity Entities[] = {
    {L"amp", L'&'},       {L"lt", L'<'},        {L"gt", L'>'},        {L"quot", L'"'},
    {L"nbsp", L' '},      {L"auml", L'\u00e4'}, {L"ouml", L'\u00f6'}, {L"uuml", L'\u00fc'},
    {L"Auml", L'\u00c4'}, {L"Ouml", L'\u00d6'}, {L"Uuml", L'\u00dc'}, {L"szlig", L'\u00df'},
};

// Tags after which the text goes on in a new paragraph.
bool BreaksLine(const std::wstring& tag) {
    static const wchar_t* blocks[] = {L"p",  L"/p",  L"br", L"li",  L"h1",  L"/h1",
                                      L"h2", L"/h2", L"h3", L"/h3", L"div", L"/div"};
    for (const wchar_t* block : blocks)
        if (tag == block)
            return true;
    return false;
}

std::wstring TagName(const std::wstring& html, size_t open, size_t close) {
    std::wstring name;
    for (size_t i = open + 1; i < close && !iswspace(html[i]) && html[i] != L'>'; ++i)
        name += static_cast<wchar_t>(towlower(html[i]));
    return name;
}

void AppendEntity(const std::wstring& html, size_t* i, std::wstring* out) {
    size_t end = html.find(L';', *i);
    if (end != std::wstring::npos && end - *i <= 8) {
        std::wstring name = html.substr(*i + 1, end - *i - 1);
        for (const auto& entity : Entities) {
            if (name == entity.name) {
                *out += entity.character;
                *i = end;
                return;
            }
        }
    }
    *out += L'&';
}

// Collapses white space as HTML does, with a line break between paragraphs.
void AppendText(wchar_t c, std::wstring* out) {
    if (iswspace(c)) {
        if (!out->empty() && out->back() != L' ' && out->back() != L'\n')
            *out += L' ';
        return;
    }
    *out += c;
}

std::wstring PlainText(const std::wstring& html) {
    std::wstring out;
    for (size_t i = 0; i < html.size(); ++i) {
        if (html[i] == L'<') {
            size_t close = html.find(L'>', i);
            if (close == std::wstring::npos)
                break;
            std::wstring tag = TagName(html, i, close);
            if (BreaksLine(tag)) {
                while (!out.empty() && out.back() == L' ')
                    out.pop_back();
                if (!out.empty() && out.back() != L'\n')
                    out += L"\r\n";
                // A blank line between paragraphs.
                if (tag == L"/p" && !out.empty())
                    out += L"\r\n";
            }
            i = close;
        } else if (html[i] == L'&') {
            AppendEntity(html, &i, &out);
        } else {
            AppendText(html[i], &out);
        }
    }
    while (!out.empty() && iswspace(out.back()))
        out.pop_back();
    return out;
}

std::wstring FirstHeading(const std::wstring& html) {
    for (const wchar_t* tag : {L"<h1", L"<h2", L"<h3"}) {
        size_t open = html.find(tag);
        if (open == std::wstring::npos)
            continue;
        size_t start = html.find(L'>', open);
        size_t end = html.find(L"</h", start);
        if (start != std::wstring::npos && end != std::wstring::npos)
            return PlainText(html.substr(start + 1, end - start - 1));
    }
    return L"";
}

size_t AnchorAt(const std::wstring& html, const std::wstring& anchor) {
    if (anchor.empty())
        return std::wstring::npos;
    return html.find(L"<a name=\"" + anchor + L"\"");
}

} // namespace

bool LoadHelpFile(const std::wstring& file, std::wstring* html) {
    wchar_t path[MAX_PATH];
    GetWindowsDirectoryW(path, MAX_PATH);
    if (file.empty() || file.find_first_of(L"\\/:") != std::wstring::npos ||
        wcslen(path) + 1 + file.size() >= MAX_PATH)
        return false;
    std::wstring full = std::wstring(path) + L"\\" + file;
    HANDLE handle = CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(handle, nullptr);
    std::string bytes(size <= MaxHelpFile ? size : 0, '\0');
    DWORD got = 0;
    bool read = size <= MaxHelpFile &&
                (size == 0 || ReadFile(handle, bytes.data(), size, &got, nullptr)) && got == size;
    CloseHandle(handle);
    if (!read)
        return false;
    int length =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    html->assign(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), html->data(),
                        length);
    return true;
}

HelpTopic FindTopic(const std::wstring& html, const std::wstring& anchor) {
    size_t start = AnchorAt(html, anchor);
    if (start == std::wstring::npos) // the top of the file: its first topic
        start = html.find(L"<a name=");
    if (start == std::wstring::npos)
        start = 0;
    size_t next = html.find(L"<a name=", start + 1);
    std::wstring topic = html.substr(start, next == std::wstring::npos ? next : next - start);
    // The heading is the window's title; the text starts after it.
    size_t body = topic.find(L"</h");
    body = body == std::wstring::npos ? 0 : topic.find(L'>', body) + 1;
    return {FirstHeading(topic), PlainText(topic.substr(body))};
}
