#pragma once
#include <functional>

namespace korvane {

// The cores this machine has, at least one.
int everyCore();

// Runs part(begin, end) over [0, count): as two halves, the second on a
// thread of its own, when that is worth it and there is a second core;
// else whole, here.
void inTwoHalves(int count, bool worthIt, const std::function<void(int begin, int end)>& part);

} // namespace korvane
