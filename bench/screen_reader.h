#pragma once
// The benchmark's view of the Xvfb screen: which pixels show the bench
// picture's hue, read through shared memory.
#include "bench_image.h"

#include <cstddef>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xlib.h> // Xlib last
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

namespace korvane::bench {

constexpr int kScreenWidth = 1920, kScreenHeight = 1080;

// Counts the picture's pixels on the screen, one in 16, through shared memory.
class ScreenReader {
public:
    explicit ScreenReader(Display* display)
        : m_display(display)
    {
        const int screen = DefaultScreen(display);
        m_image = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap,
            nullptr, &m_segment, kScreenWidth, kScreenHeight);
        m_segment.shmid = shmget(IPC_PRIVATE, size_t(m_image->bytes_per_line) * m_image->height, IPC_CREAT | 0600);
        m_segment.shmaddr = m_image->data = static_cast<char*>(shmat(m_segment.shmid, nullptr, 0));
        m_segment.readOnly = False;
        XShmAttach(display, &m_segment);
        shmctl(m_segment.shmid, IPC_RMID, nullptr);
    }
    ~ScreenReader()
    {
        XShmDetach(m_display, &m_segment);
        XDestroyImage(m_image);
        shmdt(m_segment.shmaddr);
    }
    unsigned pixel(int x, int y) const
    {
        return reinterpret_cast<const unsigned*>(m_image->data + size_t(y) * m_image->bytes_per_line)[x] & 0xFFFFFF;
    }
    bool isPicture(int x, int y) const
    {
        const unsigned p = pixel(x, y);
        return isBenchHue((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // A checksum of the screen's pixels right of x, as last read.
    unsigned long long sumRightOf(int x) const
    {
        unsigned long long sum = 0;
        for (int y = 0; y < kScreenHeight; y += 2)
            for (int column = x; column < kScreenWidth; column += 2)
                sum = sum * 31 + pixel(column, y);
        return sum;
    }
    void read() { XShmGetImage(m_display, DefaultRootWindow(m_display), m_image, 0, 0, AllPlanes); }
    long picturePixels()
    {
        read();
        long count = 0;
        for (int y = 0; y < kScreenHeight; y += 4) {
            const auto* row = reinterpret_cast<const unsigned*>(m_image->data + size_t(y) * m_image->bytes_per_line);
            for (int x = 0; x < kScreenWidth; x += 4)
                count += isBenchHue((row[x] >> 16) & 0xFF, (row[x] >> 8) & 0xFF, row[x] & 0xFF);
        }
        return count * 16;
    }

private:
    Display* m_display;
    XImage* m_image;
    XShmSegmentInfo m_segment {};
};

} // namespace korvane::bench
