// The one harness for error tables: a contract's errors are checked in a fixed order, and a table
// lists one call per error, in that order. Each row's call must raise exactly its row's
// identifier and message, with nothing left open and no array leaked (testkit::call checks both).
// A row is best built to break every later check as well, so that a service checking in the
// wrong order raises a later row's error and the table names the row that shows it.
#pragma once

#include "testkit.h"

#include <string>
#include <vector>

namespace testkit {

struct ErrorRow {
    std::string label; // what the row's call breaks, for the failure message
    int out_count;
    Inputs inputs;
    std::string identifier;
    std::string message;
    hxhost::CallOptions options = {};
};

// Builds a row; inputs as for args(): ErrorRow r = error_row("no input", 4, args("getheader"),
// "helixo:alignport:getheader:InvalidNumInputArg", "getheader: ...").
inline ErrorRow error_row(std::string label, int out_count, Inputs inputs, std::string identifier,
                          std::string message, hxhost::CallOptions options = {}) {
    return ErrorRow{std::move(label), out_count, std::move(inputs), std::move(identifier),
                    std::move(message), options};
}

// Calls plugin once per row, in table order, and expects each row's error. The rows' identifiers
// must also follow order (the contract's identifiers in check order, as the plug-in's table lists
// them): a row whose identifier is missing from order, or comes before the previous row's, fails.
// An empty order skips that check.
void expect_errors_in_order(const std::string& plugin, const std::vector<ErrorRow>& rows,
                            const std::vector<std::string>& order = {});

} // namespace testkit
