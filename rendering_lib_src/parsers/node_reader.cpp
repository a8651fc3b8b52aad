#include "parsers/node_reader.h"

#include <cctype>

#include "parsers/value_reader.h"
#include "util/error.h"

void warnComponentLink(TextParser &parser, const std::string &key) {
    if (key.find('.') == std::string::npos) return;
    // Looked at, not read: the caller skips the line as before.
    const TextParser::Position start = parser.position();
    std::string target;
    const bool named = parser.readString(target, false) && !looksNumeric(target);
    parser.restore(start);
    if (!named) return;
    std::string param = key;
    for (char &c : param) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Warning("Parameter %s links one component to \"%s\"; links of single components are not "
            "followed and the parameter keeps its value",
            param.c_str(), target.c_str());
}
