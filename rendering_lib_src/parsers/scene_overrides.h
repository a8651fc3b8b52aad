// Parameters set from outside a scene file (a host's "NODE.PARAM=VALUE"
// settings: resolution, camera, samples, any node's parameter), read as if
// the file said them. Each becomes a line "PARAM VALUE" at the end of the
// named node's block, after what the file wrote there, and the node's own
// reader reads it: a later value wins in every reader, so the setting does.
#pragma once

#include <string>
#include <vector>

#include "parsers/node_reader.h"

class LoadState;
class TextParser;

class SceneOverrides {
public:
    // Adds "NODE.PARAM=VALUE": NODE a node's name as the file writes it (up
    // to the last "." before the "="), or "options" for the options node
    // whatever its name; PARAM a parameter keyword (letters, digits and
    // underscores, any case); VALUE what the file would hold after it, on
    // one line and without braces. False, after an Error, when malformed.
    bool add(const char *setting);
    bool empty() const { return m_settings.empty(); }

    // Reads the node whose keyword the loader just read, through `dispatch`:
    // with the lines of the settings that name it added to its block, or as
    // it stands. Refused, after an Error, when the node does not read a
    // parameter set for it.
    NodeResult readNode(const std::string &keyword, TextParser &parser, LoadState &state,
                        NodeReader dispatch);
    // After the last node. Settings of the options node in a file without
    // one are read as an options node of their own. False, after an Error
    // for each, when a setting named no node of the file, or the options'
    // camera names no camera node.
    bool finish(LoadState &state, NodeReader dispatch);

private:
    struct Setting {
        std::string node, param, value;
        bool matched = false;
    };
    // Reads a node from `text` (its block, with the settings' lines added
    // from offset `from` on) and checks that the reader read every one.
    NodeResult readWithSettings(const std::string &keyword, const std::string &text, size_t from,
                                const std::vector<Setting *> &settings, LoadState &state,
                                NodeReader dispatch);

    std::vector<Setting> m_settings;
    bool m_sawOptions = false;
};
