// The one harness for error tables: a contract's errors are checked in a fixed order, and a table
// lists one call per error, in that order. Each row's call must raise exactly its row's
// identifier and message, with nothing left open and no array leaked (testkit::call checks both).
// A row is best built to break every later check as well, so that a service checking in the
// wrong order raises a later row's error and the table names the row that shows it.
//
// A table is one test: its rows are built in the test body, after the fixture has made its
// files, so a row's inputs name those files directly (no placeholder texts to substitute), and
// the table's own files can be written while its rows are built. What a call must leave alone
// besides (the index file as it was, no file created, nothing printed, no poll) is checked by
// the row's `check`, or for every row by the table's RowChecks; RowChecks::before restores,
// before each call, what an earlier row's call was allowed to change.
//
// The number of rows a table ran is recorded as the test's "error_rows" property
// (--gtest_output=xml lists it), so a change that drops rows shows in the count.
#pragma once

#include "testkit.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testkit {

// A check made after a row's call, once its error has been checked.
using ResultCheck = std::function<void(const hxhost::CallResult&)>;

struct ErrorRow {
    std::string label; // what the row's call breaks, for the failure message
    int out_count;
    Inputs inputs;
    std::string identifier;
    std::string message;
    hxhost::CallOptions options = {};
    ResultCheck check = {}; // what this row's call also leaves behind; may be empty
};

// Builds a row; inputs as for args(): ErrorRow r = error_row("no input", 4, args("getheader"),
// "helixo:alignport:getheader:InvalidNumInputArg", "getheader: ...").
inline ErrorRow error_row(std::string label, int out_count, Inputs inputs, std::string identifier,
                          std::string message, hxhost::CallOptions options = {}) {
    return ErrorRow{
        std::move(label), out_count, std::move(inputs), std::move(identifier), std::move(message),
        options,          {}};
}

// A table from its rows, in check order. Rows own their inputs, so they move into the list (a
// braced list of rows would have to copy them).
template <class... Row> std::vector<ErrorRow> error_rows(Row&&... row) {
    std::vector<ErrorRow> rows;
    rows.reserve(sizeof...(row));
    (rows.push_back(std::forward<Row>(row)), ...);
    return rows;
}

// The row with a check of its own added (run after the table's RowChecks::after).
inline ErrorRow also(ErrorRow row, ResultCheck check) {
    row.check = std::move(check);
    return row;
}

// What every row of a table does around its call: before runs just before it (to restore a
// file an earlier row's call may have changed), after runs once the row's error is checked.
struct RowChecks {
    std::function<void()> before = {};
    ResultCheck after = {};
};

// Calls plugin once per row, in table order, and expects each row's error. The rows' identifiers
// must also follow order (the contract's identifiers in check order, as the plug-in's table lists
// them): a row whose identifier is missing from order, or comes before the previous row's, fails.
// An empty order skips that check.
void expect_errors_in_order(const std::string& plugin, const std::vector<ErrorRow>& rows,
                            const std::vector<std::string>& order = {});

// As above, with every_row's checks around each row's call.
void expect_errors_in_order(const std::string& plugin, const std::vector<ErrorRow>& rows,
                            const RowChecks& every_row, const std::vector<std::string>& order = {});

} // namespace testkit
