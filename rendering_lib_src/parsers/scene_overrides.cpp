#include "parsers/scene_overrides.h"

#include <cctype>
#include <cstring>

#include "parsers/load_state.h"
#include "parsers/scene_nodes.h"
#include "parsers/text_parser.h"
#include "scene/camera.h"
#include "util/error.h"

namespace {

// The options node answers to "options" in any case, whatever its name.
bool namesOptions(const std::string &node) {
    std::string lower = node;
    TextParser::toLower(lower);
    return lower == "options";
}

bool isKeywordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

std::string upperCased(std::string s) {
    TextParser::toUpper(s);
    return s;
}

// The node type as files write it, for messages.
std::string typeName(const std::string &keyword) {
    std::string type = keyword;
    TextParser::toLower(type);
    return type;
}

} // namespace

bool SceneOverrides::add(const char *setting) {
    const std::string text = setting != nullptr ? setting : "";
    const size_t eq = text.find('=');
    const size_t dot = eq == std::string::npos ? std::string::npos : text.rfind('.', eq);
    if (dot == std::string::npos || dot == 0 || dot + 1 == eq) {
        Error("Setting \"%s\" is not of the form node.parameter=value", text.c_str());
        return false;
    }
    Setting s;
    s.node = text.substr(0, dot);
    s.param = text.substr(dot + 1, eq - dot - 1);
    s.value = text.substr(eq + 1);
    for (char c : s.param)
        if (!isKeywordChar(c)) {
            Error("Setting \"%s\": \"%s\" is not a parameter name", text.c_str(),
                  s.param.c_str());
            return false;
        }
    // The value becomes one line inside the node's block: a line end or a
    // brace would end the block or start another.
    if (s.value.find_first_of("\r\n{}") != std::string::npos ||
        s.value.find_first_not_of(" \t") == std::string::npos) {
        Error("Setting \"%s\": the value must be one line of text without braces",
              text.c_str());
        return false;
    }
    m_settings.push_back(std::move(s));
    return true;
}

NodeResult SceneOverrides::readNode(const std::string &keyword, TextParser &parser,
                                    LoadState &state, NodeReader dispatch) {
    if (m_settings.empty()) return dispatch(keyword, parser, state);
    const bool options = keyword == "OPTIONS";
    m_sawOptions = m_sawOptions || options;
    const TextParser::Position start = parser.position();
    if (start.cursor == nullptr) return dispatch(keyword, parser, state);

    // The node's name, looked up ahead; the node is then read from where it
    // starts.
    const std::string name = skipNodeKeepingName(parser);
    const TextParser::Position end = parser.position();
    std::vector<Setting *> mine;
    for (Setting &s : m_settings)
        if (s.node == name || (options && namesOptions(s.node))) mine.push_back(&s);
    if (mine.empty()) {
        parser.restore(start);
        return dispatch(keyword, parser, state);
    }

    const size_t length = end.cursor != nullptr ? static_cast<size_t>(end.cursor - start.cursor)
                                                : std::strlen(start.cursor);
    std::string text(start.cursor, length);
    // The lines go in front of the closing brace (at the end of a block the
    // file leaves open).
    const bool closed = !text.empty() && text.back() == '}';
    if (closed) text.pop_back();
    text += '\n';
    const size_t from = text.size();
    for (const Setting *s : mine) text += s->param + " " + s->value + "\n";
    if (closed) text += '}';
    return readWithSettings(keyword, text, from, mine, state, dispatch);
}

NodeResult SceneOverrides::readWithSettings(const std::string &keyword, const std::string &text,
                                            size_t from, const std::vector<Setting *> &settings,
                                            LoadState &state, NodeReader dispatch) {
    TextParser block;
    block.loadMemory(text.data(), text.size(), nullptr);
    ParameterNotes notes;
    notes.from = block.position().cursor + from;
    ParameterNotes *const outer = t_parameterNotes;
    t_parameterNotes = &notes;
    const NodeResult result = dispatch(keyword, block, state);
    t_parameterNotes = outer;

    for (Setting *s : settings) s->matched = true;
    // A refused node has been reported by its reader.
    if (result == NodeResult::Refused) return result;
    bool ok = true;
    for (const Setting *s : settings) {
        const std::string key = upperCased(s->param);
        bool met = false, read = false;
        for (const auto &note : notes.met)
            if (note.first == key) {
                met = true;
                read = read || note.second;
            }
        if (read) continue;
        ok = false;
        const std::string type = typeName(keyword);
        if (met)
            Error("Cannot set %s.%s: %s nodes have no parameter %s", s->node.c_str(),
                  s->param.c_str(), type.c_str(), s->param.c_str());
        else
            Error("Cannot set %s.%s: %s nodes are not read by this renderer", s->node.c_str(),
                  s->param.c_str(), type.c_str());
    }
    return ok ? result : NodeResult::Refused;
}

bool SceneOverrides::finish(LoadState &state, NodeReader dispatch) {
    if (!m_sawOptions) {
        std::vector<Setting *> options;
        for (Setting &s : m_settings)
            if (namesOptions(s.node)) options.push_back(&s);
        if (!options.empty()) {
            // As if the file had an options node holding only these lines.
            std::string text = "\n{\n";
            const size_t from = text.size();
            for (const Setting *s : options) text += s->param + " " + s->value + "\n";
            text += "}\n";
            if (readWithSettings("OPTIONS", text, from, options, state, dispatch) ==
                NodeResult::Refused)
                return false;
        }
    }
    bool ok = true;
    for (const Setting &s : m_settings) {
        if (!s.matched) {
            Error("Cannot set %s.%s: the scene has no node named %s", s.node.c_str(),
                  s.param.c_str(), s.node.c_str());
            ok = false;
        } else if (namesOptions(s.node) && upperCased(s.param) == "CAMERA") {
            // A camera asked for by name must be there: the loader would
            // otherwise quietly take the first one.
            const std::string &wanted = sceneFileSettings().selectedCamera;
            bool found = false;
            for (const LoadState::CameraNode &node : state.cameraNodes)
                found = found || node.camera->getName() == wanted;
            if (!found) {
                Error("Cannot set %s.%s: the scene has no camera named %s", s.node.c_str(),
                      s.param.c_str(), wanted.c_str());
                ok = false;
            }
        }
    }
    return ok;
}
