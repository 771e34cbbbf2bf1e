#pragma once

#include <windows.h>

#include <gdiplus.h>
#include <objidl.h>

// GDI+ for the process: started on construction, shut down once, by end() or the destructor. The
// entry holds the one session; nothing drawn with GDI+ may be used after it has ended.
class GdiplusSession {
public:
    GdiplusSession() {
        const Gdiplus::GdiplusStartupInput input;
        started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }
    ~GdiplusSession() { end(); }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    void end() {
        if (started) Gdiplus::GdiplusShutdown(token);
        started = false;
    }

private:
    ULONG_PTR token = 0;
    bool started = false;
};
