#include "two_cores.h"

#include <thread>

#include <algorithm>

namespace korvane {

int everyCore()
{
    return std::max(1, int(std::thread::hardware_concurrency()));
}

void inTwoHalves(int count, bool worthIt, const std::function<void(int begin, int end)>& part)
{
    if (!worthIt || count < 2 || std::thread::hardware_concurrency() < 2) {
        part(0, count);
        return;
    }
    const int middle = count / 2;
    std::thread lower(part, middle, count);
    part(0, middle);
    lower.join();
}

} // namespace korvane
