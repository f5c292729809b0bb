// Ownership rules of a call: every array the plug-in created and did not hand over is freed,
// whatever the outcome, and the caller gets exactly the outputs it asked for.
#include "testkit.h"

namespace {

using testkit::args;

class Ownership : public ::testing::Test {
protected:
    long before = hxhost::live_arrays();
    hxhost::CallResult call(int outCount, testkit::Inputs in) {
        return testkit::call("hxprobe", outCount, in);
    }
    // args() made the inputs, which live until the end of the statement.
    long alive_now() const { return hxhost::live_arrays() - before; }
};

TEST_F(Ownership, ErrorAfterOutputsWereStoredLeavesNoArrayAlive) {
    const auto r = call(2, args("fail_after_outputs"));
    EXPECT_HX_ERROR(r, "helixo:probe:fail_after_outputs:Failed",
                    "fail_after_outputs: Failed late.");
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_EQ(alive_now(), 0);
}

TEST_F(Ownership, TemporariesAreFreedWhenTheCallReturns) {
    const auto r = call(0, args("temporaries"));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(alive_now(), 0);
}

TEST_F(Ownership, NestedCellReachesTheCallerWhole) {
    auto r = call(1, args("nested_cell"));
    ASSERT_TRUE(r.ok) << r.message;
    const haArray* outer = r.outputs.at(0).get();
    ASSERT_TRUE(haIsCell(outer));
    EXPECT_EQ(hxhost::text_of(haGetCell(outer, 0)), "name");
    const haArray* inner = haGetCell(outer, 1);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(haGetScalar(haGetCell(inner, 0)), 7);
    EXPECT_EQ(haGetCell(inner, 1), nullptr); // never set
    EXPECT_EQ(alive_now(), 4);
    r.outputs.clear();
    EXPECT_EQ(alive_now(), 0);
}

TEST_F(Ownership, SlotFilledWithoutBeingAskedForIsDiscarded) {
    const auto r = call(0, args("nested_cell")); // the host gives room for one output anyway
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_EQ(alive_now(), 0);
}

TEST_F(Ownership, SameArrayInTwoSlotsReachesTheCallerOnce) {
    auto r = call(2, args("same_array_twice"));
    ASSERT_TRUE(r.ok) << r.message;
    ASSERT_EQ(r.outputs.size(), 2u);
    EXPECT_NE(r.outputs[0], nullptr);
    EXPECT_EQ(r.outputs[1], nullptr);
    EXPECT_EQ(alive_now(), 1);
}

TEST_F(Ownership, ArrayAlreadyInACellCannotJoinAnother) {
    const auto r = call(0, args("cell_element_twice"));
    EXPECT_HX_ERROR(r, "hxhost:InvalidCell", "haSetCell: the array already belongs to a cell.");
    EXPECT_EQ(alive_now(), 0);
}

TEST_F(Ownership, EchoedInputsAreCopiesAndInputsStayTheCallers) {
    auto in = args("echo", testkit::cell_of({"a", "b"}), testkit::u32({1, 2, 3}));
    const long with_inputs = alive_now();
    auto r = call(2, std::move(in));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(hxhost::text_of(haGetCell(r.outputs[0].get(), 1)), "b");
    EXPECT_EQ(hxhost::values_of<std::uint32_t>(r.outputs[1].get()),
              (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(alive_now(), with_inputs - 5 + 4); // inputs gone with `in`; 4 arrays returned
}

} // namespace
