// A switch that makes one chosen allocation of the test program fail. A
// test program gets it by adding support/failing_new.cpp to its sources,
// which replaces every form of the global operator new and delete (not in
// ThreadSanitizer builds, whose runtime insists on its own).
#ifndef VXKERNEL_TESTS_SUPPORT_FAILING_NEW_H_
#define VXKERNEL_TESTS_SUPPORT_FAILING_NEW_H_

namespace failing_new {

// Makes the n-th allocation from now fail, once: the throwing forms of
// operator new throw std::bad_alloc, the nothrow forms return null. Counts
// the allocations of every thread; 0 disarms. Allocates nothing.
void FailNth(long n) noexcept;

// Whether the armed failure has happened since the last FailNth.
bool Fired() noexcept;

}  // namespace failing_new

#endif  // VXKERNEL_TESTS_SUPPORT_FAILING_NEW_H_
