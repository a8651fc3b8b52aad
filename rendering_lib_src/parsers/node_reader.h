// The contract every node reader keeps, and the loop they share over a
// node's block of parameters.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "parsers/array_reader.h"
#include "parsers/text_parser.h"

class LoadState;

// What a node reader made of the node it was handed.
enum class NodeResult {
    Read,    // read (and added, or skipped with a Warning)
    Refused, // a damaged value, or lists that do not fit: reported; the load ends
    NotMine, // a keyword this reader does not read; nothing was consumed
};

// A node reader: called with the upper-cased keyword, the parser just after
// it and the load state.
using NodeReader = NodeResult (*)(const std::string &keyword, TextParser &parser,
                                  LoadState &state);

inline NodeResult readOrRefused(bool ok) { return ok ? NodeResult::Read : NodeResult::Refused; }

// A parameter the reader does not know, written with a component
// ("color.r"), whose value names another node: a link of one component,
// which is said with a Warning (the line is then skipped as usual).
void warnComponentLink(TextParser &parser, const std::string &key);
// The parameter keywords node readers meet past a point of the text, each
// with whether the reader read its value: how the loader learns whether a
// line it added to a node's block is a parameter of that node.
struct ParameterNotes {
    const char *from = nullptr; // notes keywords that end after this point
    std::vector<std::pair<std::string, bool>> met;

    void note(const char *cursor, const std::string &keyword, bool read) {
        if (cursor != nullptr && cursor > from && keyword != "}") met.emplace_back(keyword, read);
    }
};
// The notes taken on this thread, or null (no notes: the usual case).
inline thread_local ParameterNotes *t_parameterNotes = nullptr;

// The loop every node reader shares: upper-cased parameter tokens until "}"
// or the end of input. `handle` gets each token and returns true when it
// knew the keyword and read its value; any other token (the opening brace
// included) makes the loop skip the rest of its line, and the packed text
// of an array written there. "}" ends the block.
template <typename Handler> void readNodeBlock(TextParser &parser, Handler &&handle) {
    std::string sToken;
    while (!parser.eof()) {
        if (!parser.readToken(sToken, true)) {
            // A failed read leaves the parser at end of input; stepping one
            // character guarantees progress should it ever not.
            if (!parser.eof()) parser.readChar();
            continue;
        }
        const char *const afterKeyword = parser.position().cursor;
        const bool read = handle(sToken);
        if (t_parameterNotes != nullptr) t_parameterNotes->note(afterKeyword, sToken, read);
        if (read) continue;
        if (sToken == "}") break;
        warnComponentLink(parser, sToken);
        skipPackedValue(parser);
        parser.nextLine();
    }
}
