// Small guards that give GDI resources back in the right order when a painting ends.
#pragma once
#include "wince.h"

// A device context of a window from GetDC, released when the guard goes.
class WindowDc {
  public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() { ReleaseDC(window_, dc_); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    operator HDC() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// A font of our own, deleted when the guard goes.
class OwnedFont {
  public:
    explicit OwnedFont(const LOGFONTW& description) : font_(CreateFontIndirectW(&description)) {}
    ~OwnedFont() { DeleteObject(font_); }
    OwnedFont(const OwnedFont&) = delete;
    OwnedFont& operator=(const OwnedFont&) = delete;
    operator HFONT() const { return font_; }

  private:
    HFONT font_;
};

// An object selected into a device context; the previous one is selected back when the
// guard goes.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() { SelectObject(dc_, previous_); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};
