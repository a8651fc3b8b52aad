#include "parsers/include_nodes.h"

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "parsers/array_reader.h"
#include "parsers/value_reader.h"
#include "parsers/load_state.h"
#include "parsers/node_reader.h"
#include "parsers/text_parser.h"
#include "util/compressed_file.h"
#include "util/error.h"
#include "util/transform.h"

namespace {

// Files included by included files are followed this deep; deeper chains
// are refused like a file that includes itself.
constexpr int kMaxIncludeDepth = 16;

// A file included several times is read each time. Such repeated readings
// together may add at most this many bytes of text per byte of the
// distinct files read, and never more than the ceiling: a few lines naming
// one large file many times could otherwise ask for any amount of memory.
constexpr uint64_t kRepeatTextPerByte = 16;
constexpr uint64_t kMaxRepeatText = uint64_t{1} << 31;

// Compressed text may stand for at most this many bytes per byte of the
// file (plus a small allowance), and never more than a text can hold.
constexpr uint64_t kGzipBytesPerByte = 256;
constexpr uint64_t kGzipAllowance = uint64_t{1} << 16;
constexpr uint64_t kMaxTextBytes = INT32_MAX - 2;

bool endsWith(const std::string &text, const char *ending) {
    std::string lower = text;
    TextParser::toLower(lower);
    const std::string e(ending);
    return lower.size() >= e.size() && lower.compare(lower.size() - e.size(), e.size(), e) == 0;
}

bool fileExists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

uint64_t fileSize(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

uint64_t repeatLimit(const LoadState &state) {
    const uint64_t byDistinct = state.distinctBytes * kRepeatTextPerByte;
    return byDistinct < kMaxRepeatText ? byDistinct : kMaxRepeatText;
}

bool mayReadAgain(const LoadState &state, uint64_t bytes) {
    return state.repeatedBytes + bytes <= repeatLimit(state);
}

// The chain of files being read, for messages: "a.ass > b.ass > c.ass".
std::string chainOf(const LoadState &state) {
    std::string chain;
    for (const LoadState::SourceFile &file : state.files())
        chain += (chain.empty() ? "" : " > ") + file.path;
    return chain;
}

// Reads the file `name` names (looked up as LoadState::findFile does) as
// part of the scene, with the given placement, scope and override. A file
// that is missing or cannot be read is passed over with a Warning; a file
// that includes itself, too deep a chain and damaged text refuse the load.
NodeResult includeFile(LoadState &state, const std::string &name, const char *what,
                       LoadState::SourceFile file) {
    file.path = state.findFile(name, LoadState::FileKind::Scene);
    const std::string &path = file.path;
    if (!TextParser::isRegularFile(path.c_str())) {
        Warning("%s \"%s\" is not a regular file; it is not read", what, path.c_str());
        return NodeResult::Read;
    }
    file.identity = fileIdentity(path);
    for (const LoadState::SourceFile &open : state.files()) {
        if (open.identity != file.identity) continue;
        Error("%s \"%s\" includes itself (%s > %s)", what, path.c_str(), chainOf(state).c_str(),
              path.c_str());
        state.includeFailureReported = true;
        return NodeResult::Refused;
    }
    if (state.includeDepth() >= kMaxIncludeDepth) {
        Error("%s \"%s\" is included more than %d files deep (%s)", what, path.c_str(),
              kMaxIncludeDepth, chainOf(state).c_str());
        state.includeFailureReported = true;
        return NodeResult::Refused;
    }
    // A file read before is known by its size: the allowance for reading
    // files again is checked before it is opened (or decompressed) again.
    const LoadState::FileRead *before = nullptr;
    for (const LoadState::FileRead &read : state.filesRead)
        if (read.identity == file.identity) before = &read;
    if (before != nullptr && !mayReadAgain(state, before->bytes)) {
        Warning("%s \"%s\" is not read again: files read more than once would add more "
                "than %llu bytes of text",
                what, path.c_str(), static_cast<unsigned long long>(repeatLimit(state)));
        return NodeResult::Read;
    }
    TextParser parser;
    switch (openSceneText(path, parser)) {
    case SceneText::Loaded:
        break;
    case SceneText::Unreadable:
        Warning("%s \"%s\" is %s; it is not read", what, path.c_str(),
                fileExists(path) ? "not readable" : "not found");
        return NodeResult::Read;
    case SceneText::Damaged:
        state.includeFailureReported = true;
        return NodeResult::Refused;
    }
    const uint64_t bytes = parser.size();
    if (before != nullptr) {
        // The file may have grown since.
        if (!mayReadAgain(state, bytes)) {
            Warning("%s \"%s\" is not read again: files read more than once would add more "
                    "than %llu bytes of text",
                    what, path.c_str(), static_cast<unsigned long long>(repeatLimit(state)));
            return NodeResult::Read;
        }
        state.repeatedBytes += bytes;
    } else {
        state.filesRead.push_back({file.identity, bytes});
        state.distinctBytes += bytes;
    }
    INFO_LOG << "Reading included scene file " << path;
    state.enterFile(std::move(file));
    const bool ok = readSceneNodes(parser, state);
    state.leaveFile();
    if (!ok) {
        // Said once, by the file the refused node is in.
        if (!state.includeFailureReported)
            Error("Could not read included file %s", parser.fileName().c_str());
        state.includeFailureReported = true;
        return NodeResult::Refused;
    }
    return NodeResult::Read;
}

// The placement, scope and override of the file being read, for a file it
// includes by a line.
LoadState::SourceFile currentContext(const LoadState &state) {
    LoadState::SourceFile context;
    if (!state.files().empty()) context = state.files().back();
    context.path.clear();
    context.identity.clear();
    return context;
}

} // namespace

SceneText openSceneText(const std::string &path, TextParser &parser) {
    if (!endsWith(path, ".gz"))
        return parser.loadFile(path.c_str()) ? SceneText::Loaded : SceneText::Unreadable;
    const uint64_t byFile = fileSize(path) * kGzipBytesPerByte + kGzipAllowance;
    const uint64_t limit = byFile < kMaxTextBytes ? byFile : kMaxTextBytes;
    std::string text;
    switch (readGzipFile(path.c_str(), limit, text)) {
    case GzipStatus::Ok:
        parser.loadMemory(text.data(), text.size(), path.c_str());
        return SceneText::Loaded;
    case GzipStatus::Unreadable:
        return SceneText::Unreadable;
    case GzipStatus::Damaged:
        Error("The scene %s is not valid gzip-compressed text", path.c_str());
        return SceneText::Damaged;
    case GzipStatus::TooLarge:
        Error("The scene %s decompresses to more than %llu bytes", path.c_str(),
              static_cast<unsigned long long>(limit));
        return SceneText::Damaged;
    }
    return SceneText::Unreadable;
}

bool readSceneNodes(TextParser &parser, LoadState &state) {
    parser.skipByteOrderMark();
    std::string sToken;
    while (!parser.eof()) {
        // Lines whose first character after separators is "#" are comments
        // between nodes.
        while (!parser.eof() && parser.peekChar('#', true, false)) parser.nextLine();
        if (!parser.readToken(sToken, true)) {
            if (!parser.eof()) parser.readChar(); // always make progress
            continue;
        }
        if (!state.readNode(sToken, parser, state)) return false;
    }
    return true;
}

std::string fileIdentity(const std::string &path) {
    char *canonical = ::realpath(path.c_str(), nullptr);
    if (canonical == nullptr) return path;
    std::string identity(canonical);
    std::free(canonical);
    return identity;
}

NodeResult readInclude(const std::string &, TextParser &parser, LoadState &state) {
    // "include <file>" has no block: the name of the file follows.
    std::string file;
    parser.readString(file, false);
    return includeFile(state, file, "Included file", currentContext(state));
}

NodeResult readProcedural(const std::string &, TextParser &parser, LoadState &state) {
    // The block is passed whole first (nested blocks too), then its
    // parameters are read from a copy of it.
    const TextParser::Position start = parser.position();
    parser.skipBlock(false);
    if (start.cursor == nullptr) return NodeResult::Read;
    const TextParser::Position end = parser.position();
    TextParser block;
    block.loadMemory(start.cursor,
                     end.cursor != nullptr ? static_cast<size_t>(end.cursor - start.cursor)
                                           : std::strlen(start.cursor),
                     nullptr);
    std::string name, filename, nameSpace;
    Transform matrix;
    bool overrides = false;
    const NodeRef node{"Procedural", name};
    bool ok = true;
    readNodeBlock(block, [&](const std::string &key) {
        if (!ok) return false;
        if (key == "NAME") {
            ok = readStringValue(block, node, "name", name, false);
        } else if (key == "FILENAME" || key == "DSO") {
            ok = readStringValue(block, node, "filename", filename, false);
        } else if (key == "MATRIX") {
            ok = readMatrixValue(block, node, "matrix", matrix);
        } else if (key == "NAMESPACE") {
            ok = readStringValue(block, node, "namespace", nameSpace, true);
        } else if (key == "OVERRIDE_NODES") {
            ok = readBoolValue(block, node, "override_nodes", overrides);
        } else {
            return false;
        }
        return true;
    });
    if (!ok) return NodeResult::Refused;
    if (!endsWith(filename, ".ass") && !endsWith(filename, ".ass.gz")) {
        Warning("Node procedural \"%s\" is not drawn: this renderer draws procedurals of scene "
                "files (.ass, .ass.gz) only",
                name.c_str());
        return NodeResult::Read;
    }
    // The file's nodes are placed by the matrix on top of this file's own
    // placement; a namespace goes inside this file's.
    LoadState::SourceFile context = currentContext(state);
    if (!(matrix == Transform())) {
        context.placement = state.placed(matrix);
        context.placed = true;
    }
    if (!nameSpace.empty()) context.scope += nameSpace + "::";
    context.overrides = overrides;
    if (!isFiniteInvertible(context.placement)) {
        Warning("Procedural %s: matrix is not finite or not invertible; it is not drawn",
                name.c_str());
        return NodeResult::Read;
    }
    return includeFile(state, filename, "Procedural file", std::move(context));
}
