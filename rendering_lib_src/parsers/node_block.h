// The loop every node reader shares: upper-cased parameter tokens until "}"
// or the end of input.
#pragma once

#include <string>

#include "parsers/array_reader.h"
#include "parsers/text_parser.h"

// `handle` gets each token and returns true when it knew the keyword and read
// its value; any other token (the opening brace included) makes the loop skip
// the rest of its line, and the packed text of an array written there. "}"
// ends the block.
template <typename Handler> void readNodeBlock(TextParser &parser, Handler &&handle) {
    std::string sToken;
    while (!parser.eof()) {
        if (!parser.readToken(sToken, true)) {
            // A failed read leaves the parser at end of input; stepping one
            // character guarantees progress should it ever not.
            if (!parser.eof()) parser.readChar();
            continue;
        }
        if (handle(sToken)) continue;
        if (sToken == "}") break;
        skipPackedValue(parser);
        parser.nextLine();
    }
}
