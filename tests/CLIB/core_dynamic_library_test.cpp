// The loader behind every library found at run time: names tried in order,
// a library without every function counts as missing, and problem() says why.

#include <gtest/gtest.h>

#include <cmath>

#include "DynamicLibrary.h"

namespace {

const struct {
    std::initializer_list<const char*> sonames;
    const char* function;
    const char* soname;   // the one loaded, or null
    const char* problem;  // when none was usable
} kCases[] = {
    {{"libsa-absent.so.1", "libm.so.6"}, "cos", "libm.so.6", ""},
    {{"libc.so.6", "libm.so.6"}, "cos", "libm.so.6", ""},  // libc lacks it, the next has it
    {{"libm.so.6"}, "sa_absent_function", nullptr, "libm.so.6 lacks sa_absent_function"},
    {{"libsa-absent.so.1", "libsa-absent.so.2"}, "cos", nullptr, "libsa-absent.so.1, libsa-absent.so.2"},
};

TEST(DynamicLibrary, TriesTheNamesInOrderAndSaysWhatIsMissing) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.function);
        DynamicLibrary library;
        const char* names[] = {"sin", c.function};
        void* addresses[2] = {};
        EXPECT_EQ(library.Open(c.sonames, names, 2, addresses), c.soname != nullptr);
        EXPECT_EQ(library.soname(), c.soname ? c.soname : "");
        EXPECT_EQ(library.problem(), c.problem);
    }
}

#define SA_TEST_FUNCTIONS(F) F(cos) F(sin)
SA_DYNAMIC_TABLE(TestFunctions, SA_TEST_FUNCTIONS)

TEST(DynamicLibrary, TableCallsTheLoadedFunctions) {
    DynamicLibrary library;
    TestFunctions math;
    ASSERT_TRUE(math.Load(library, {"libm.so.6"}));
    EXPECT_DOUBLE_EQ(math.cos(0.0), 1.0);
    EXPECT_DOUBLE_EQ(math.sin(0.0), 0.0);
}

}  // namespace
