// Scene texts read into one scene: the scene file, and the files it
// includes through "include" lines and procedural nodes that name a scene
// file (.ass, or .ass.gz compressed with gzip). An included file's nodes
// are read as if they stood in the including file, placed by the
// procedural's matrix and with its namespace before their names; the
// including scene's options, output drivers and cameras win.
#pragma once

#include <string>

#include "parsers/node_reader.h"

class LoadState;
class TextParser;

// Loads the scene text at path into parser: the file as it is, or its
// decompressed text when the name ends in ".gz". Unreadable when it cannot
// be opened or read (nothing is reported); Damaged, after an Error naming
// the file, when its compressed text is damaged or too large.
enum class SceneText { Loaded, Unreadable, Damaged };
SceneText openSceneText(const std::string &path, TextParser &parser);

// Reads every node of the text through state.readNode (after a UTF-8
// byte-order mark and comment lines); false once a node is refused.
bool readSceneNodes(TextParser &parser, LoadState &state);

// The identity of a file for telling whether it is already being read: its
// canonical path, or the path as given when there is none.
std::string fileIdentity(const std::string &path);

// "include <file>": the file's nodes, read in place of the line.
NodeResult readInclude(const std::string &keyword, TextParser &parser, LoadState &state);
// PROCEDURAL: with a filename naming a scene file, that file's nodes placed
// by the node's matrix; any other procedural is skipped with a Warning.
NodeResult readProcedural(const std::string &keyword, TextParser &parser, LoadState &state);
