// Processes that must not both make the same window take turns: a plain look-up for it lets
// two that start at the same moment both find none and both make one. A process looks only
// while it holds a named mutex, or while another holds it and so has, or is about to have, the
// window; the one that makes the window holds the mutex as long as it needs to be found.
#pragma once
#include "wince.h"

// How long a process waits for the holder's window to appear or for the mutex.
constexpr DWORD TurnWaitLimit = 10000; // ms
constexpr DWORD TurnWaitStep = 50;     // ms

class NamedMutex {
  public:
    explicit NamedMutex(const wchar_t* name) : mutex_(CreateMutexW(nullptr, FALSE, name)) {}
    ~NamedMutex() {
        Release();
        if (mutex_)
            CloseHandle(mutex_);
    }
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // This process holds it. Without a mutex at all (it could not be made) every process
    // counts as holding it, which leaves the decisions to the look-up as without one.
    bool Turn() const { return turn_; }
    // An abandoned mutex (its holder was killed) is as good as a free one.
    bool Take(DWORD ms) {
        if (!mutex_)
            return turn_ = true;
        const DWORD result = WaitForSingleObject(mutex_, ms);
        turn_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
        return turn_;
    }
    void Release() {
        if (turn_ && mutex_)
            ReleaseMutex(mutex_);
        turn_ = false;
    }

  private:
    HANDLE mutex_;
    bool turn_ = false;
};

// The window of the class (and title, where one is given), or none: then it is this process's
// turn to make it (Turn()), unless the holder kept the mutex too long without showing one.
inline HWND FindInTurn(NamedMutex& mutex, const wchar_t* className, const wchar_t* title) {
    const DWORD start = GetTickCount();
    DWORD wait = 0;
    for (;;) {
        if (mutex.Take(wait))
            return FindWindowW(className, title);
        if (HWND window = FindWindowW(className, title))
            return window;
        if (GetTickCount() - start >= TurnWaitLimit)
            return nullptr;
        wait = TurnWaitStep;
    }
}
