#include "error_order.h"

#include <algorithm>

namespace testkit {

void expect_errors_in_order(const std::string& plugin, const std::vector<ErrorRow>& rows,
                            const std::vector<std::string>& order) {
    expect_errors_in_order(plugin, rows, RowChecks{}, order);
}

void expect_errors_in_order(const std::string& plugin, const std::vector<ErrorRow>& rows,
                            const RowChecks& every_row, const std::vector<std::string>& order) {
    ASSERT_FALSE(rows.empty()) << "an error table without rows checks nothing";
    ::testing::Test::RecordProperty("error_rows", static_cast<int>(rows.size()));
    std::size_t previous = 0;
    for (const ErrorRow& row : rows) {
        SCOPED_TRACE("error row: " + row.label);
        if (every_row.before)
            every_row.before();
        const hxhost::CallResult r = call(plugin, row.out_count, row.inputs, row.options);
        EXPECT_HX_ERROR(r, row.identifier, row.message);
        EXPECT_FALSE(r.foreign_exception);
        if (every_row.after)
            every_row.after(r);
        if (row.check)
            row.check(r);
        if (order.empty())
            continue;
        const auto at = std::find(order.begin(), order.end(), row.identifier);
        ASSERT_NE(at, order.end()) << row.identifier << " is not among the contract's errors";
        const auto position = static_cast<std::size_t>(at - order.begin());
        EXPECT_GE(position, previous) << row.identifier << " is checked before the previous row's";
        previous = std::max(previous, position);
    }
}

} // namespace testkit
