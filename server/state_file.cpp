#include "state_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "istd/strings.h"
#include "istd/unique_fd.h"
#include "istd/yaml_text.h"
#include "loader.h"
#include "scalar_text.h"
#include "yaml_limits.h"

namespace velnor::server {

namespace {

const char* RootKey(Root root) { return root == Root::Application ? "application" : "platform"; }

const std::string c_endLinePrefix = "# end of state, entries: ";
const std::string c_endLineCrc = ", crc32: ";
const std::string c_useDefaults = "; --discard-damaged-state starts from the tree's values instead";
const char* const c_plainKeyCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.-";
const char* const c_plainKeyStart = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";

struct EndOfState {
    std::size_t bodyBytes = 0;  // the bytes before the end line
    std::uint64_t entries = 0;
    std::uint32_t crc = 0;
};

bool Digits(const std::string& text, std::size_t from, std::size_t to, int base) {
    if (from >= to) return false;
    for (std::size_t i = from; i < to; ++i)
        if (base == 10 ? !std::isdigit(static_cast<unsigned char>(text[i])) : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// The end line of `text`, which must be its last line; nullopt when there
// is none or it is not one.
std::optional<EndOfState> FindEndLine(const std::string& text) {
    if (text.empty() || text.back() != '\n') return std::nullopt;
    const std::size_t previous = text.size() < 2 ? std::string::npos : text.rfind('\n', text.size() - 2);
    const std::size_t start = previous == std::string::npos ? 0 : previous + 1;
    const std::size_t end = text.size() - 1;
    if (text.compare(start, c_endLinePrefix.size(), c_endLinePrefix) != 0) return std::nullopt;
    const std::size_t count = start + c_endLinePrefix.size();
    const std::size_t crcText = text.find(c_endLineCrc, count);
    if (crcText == std::string::npos || crcText > end || !Digits(text, count, crcText, 10) || crcText - count > 18)
        return std::nullopt;
    const std::size_t crc = crcText + c_endLineCrc.size();
    if (end - crc != 8 || !Digits(text, crc, end, 16)) return std::nullopt;
    EndOfState found;
    found.bodyBytes = start;
    found.entries = std::stoull(text.substr(count, crcText - count));
    found.crc = static_cast<std::uint32_t>(std::stoul(text.substr(crc, 8), nullptr, 16));
    return found;
}

[[noreturn]] void Damaged(const std::string& path, const std::string& reason) {
    throw DamagedStateError(path + reason + c_useDefaults);
}

// The most YAML nodes a state file of a tree within the tree limits holds:
// an entry is its path, a map, two keys, the type and the value (a list of
// at most as many elements as a tree file's node may hold).
std::uint64_t StateNodeLimit() { return 8 * TreeLimits().nodes + TreeLimits().heldYamlNodes; }
// The document, a registry, an entry, a list value.
constexpr int c_stateDepth = 4;

// Element texts that read back to the very same value: floating values
// and texts by the rule the tool's snapshots follow too (istd/yaml_text.h).
std::string ExactText(const Node& node, const Elements& value, std::size_t i) {
    if (const auto* d = std::get_if<std::vector<double>>(&value)) return istd::YamlFloating((*d)[i]);
    if (const auto* f = std::get_if<std::vector<float>>(&value)) return istd::YamlFloating((*f)[i]);
    if (node.type == ValueType::String || node.type == ValueType::Enum)
        return istd::YamlText(std::get<std::vector<std::string>>(value)[i]);
    return ElementText(value, i);
}

std::string ValueYaml(const Node& node, const Elements& value) {
    if (!node.IsArray()) return ExactText(node, value, 0);
    std::string text = "[";
    for (std::size_t i = 0; i < ElementCount(value); ++i) text += (i ? ", " : "") + ExactText(node, value, i);
    return text + "]";
}

// A dotted path as a key: plain when a YAML reader gives every plain name of
// that shape back as it is, else by the text rule.
std::string KeyYaml(const std::string& path) {
    const bool plain = !path.empty() && path.find_first_not_of(c_plainKeyCharacters) == std::string::npos &&
                       path.find_first_of(c_plainKeyStart) == 0 && path != "null" && path != "Null" && path != "NULL";
    return plain ? path : istd::YamlText(path);
}

std::string RootYaml(const Tree& tree, const std::vector<SavedValue>& values, Root root) {
    std::string entries;
    for (const auto& saved : values) {
        const Node& node = tree.nodes[saved.id];
        if (node.root != root) continue;
        entries += "  " + KeyYaml(tree.DottedPath(node)) + ": {type: " + ValueTypeName(node.type) +
                   ", value: " + ValueYaml(node, saved.value) + "}\n";
    }
    return std::string(RootKey(root)) + (entries.empty() ? ": {}\n" : ":\n" + entries);
}

[[noreturn]] void Throw(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

std::string ReadAll(int fd, const std::string& path) {
    std::string text;
    if (!istd::ReadToEnd(fd, text)) Throw("cannot read the state file", path);
    return text;
}

void WriteAll(int fd, const std::string& text, const std::string& path) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Throw("cannot write", path);
        done += static_cast<std::size_t>(n);
    }
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name nobody can guess ahead: "NAME.tmp-" and 16 random hex digits.
std::string TemporaryName(const std::string& name) {
    std::uint64_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        random ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&random)) ^
                  static_cast<std::uint64_t>(::getpid());
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random));
    return name + ".tmp-" + suffix;
}

std::string FileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISLNK(mode)) return "is a symbolic link (give the path of the file itself)";
    return "is not a regular file";
}

// Why a saved entry no longer fits its node; empty when it fits.
std::string Misfit(const Node& node, const YAML::Node& entry, Elements& parsed) {
    if (!node.Has(flags::Persistent)) return "the node is not persistent";
    if (!entry.IsMap() || !entry["type"] || !entry["value"]) return "the entry is malformed";
    if (entry["type"].as<std::string>("") != ValueTypeName(node.type)) return "the node's type changed";
    const YAML::Node value = entry["value"];
    if (value.IsSequence() != node.IsArray()) return "the node's shape changed";
    const std::size_t count = value.IsSequence() ? value.size() : 1;
    if (count != node.size) return "the node's size changed";
    parsed = MakeElements(node.type, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const YAML::Node element = value.IsSequence() ? value[i] : value;
        if (!element.IsScalar()) return "a value is malformed";
        const std::string text = element.Scalar();
        auto one = ParseYamlScalar(element.Tag(), text, node.type);
        if (!one) return "value '" + text + "' does not fit the type";
        if (node.type == ValueType::Enum &&
            std::find(node.domain->begin(), node.domain->end(), std::get<std::vector<std::string>>(*one)[0]) ==
                node.domain->end())
            return "value '" + text + "' is no longer in the domain";
        if (auto v = NumericElement(*one, 0); v && !InRange(*v, node.min, node.max))
            return "value " + text + " is out of the node's range";
        std::visit(
            [&one](auto& target) {
                using Vec = std::decay_t<decltype(target)>;
                if constexpr (!std::is_same_v<Vec, std::monostate>) target.push_back(std::get<Vec>(*one)[0]);
            },
            parsed);
    }
    return std::string();
}

}  // namespace

std::uint32_t Crc32(const std::string& text) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : text) crc = table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string EndLine(std::size_t entries, const std::string& body) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(Crc32(body)));
    return c_endLinePrefix + std::to_string(entries) + c_endLineCrc + crc + "\n";
}

std::string StateFile::Render(const Tree& tree, const std::vector<SavedValue>& values) {
    const std::string body = "# velnor-registryd: values of persistent nodes, replaced on every change\n" +
                             RootYaml(tree, values, Root::Application) + RootYaml(tree, values, Root::Platform);
    return body + EndLine(values.size(), body);
}

StateFile::StateFile(std::string path) : m_path(std::move(path)), m_directory(DirectoryOf(m_path)), m_name(NameOf(m_path)) {
    if (m_name.empty() || m_name == "." || m_name == "..") Refuse("names a directory");
    m_directoryFd.Reset(::open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_directoryFd.IsValid()) Refuse("cannot open its directory " + m_directory + ": " + std::strerror(errno));
    struct stat directory {};
    if (::fstat(m_directoryFd.Get(), &directory) != 0) Refuse("cannot examine its directory: " + std::string(std::strerror(errno)));
    if ((directory.st_mode & S_IWOTH) && !(directory.st_mode & S_ISVTX))
        Refuse("its directory " + m_directory + " is writable by others without the sticky bit, so anyone could replace the file");
    CheckExisting();
}

namespace {

bool IsTemporaryNameOf(const std::string& entry, const std::string& name) {
    const std::string prefix = name + ".tmp-";
    if (entry.size() != prefix.size() + 16 || entry.compare(0, prefix.size(), prefix) != 0) return false;
    return std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entry.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

std::size_t StateFile::RemoveStaleTemporaries() const {
    // A directory stream of its own: readdir moves the descriptor's offset.
    DIR* directory = ::fdopendir(::dup(m_directoryFd.Get()));
    if (!directory) return 0;
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(directory)) {
        if (!IsTemporaryNameOf(entry->d_name, m_name)) continue;
        struct stat file {};
        if (::fstatat(m_directoryFd.Get(), entry->d_name, &file, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(file.st_mode) || file.st_uid != ::geteuid()) continue;
        if (::unlinkat(m_directoryFd.Get(), entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(directory);
    return removed;
}

void StateFile::Refuse(const std::string& reason) const { throw std::runtime_error(m_path + ": " + reason); }

void StateFile::CheckExisting() const {
    struct stat file {};
    if (::fstatat(m_directoryFd.Get(), m_name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return;
        Refuse(std::string("cannot examine it: ") + std::strerror(errno));
    }
    if (!S_ISREG(file.st_mode)) Refuse(FileKind(file.st_mode));
    if (file.st_uid != ::geteuid()) Refuse("is owned by another user (uid " + std::to_string(file.st_uid) + ")");
}

void StateFile::Save(const Tree& tree, const std::vector<SavedValue>& values) const {
    const std::string text = Render(tree, values);
    std::string temp;
    int created = -1;
    // O_EXCL: a name that exists, whoever made it and whatever it points
    // to, is never opened; O_NOFOLLOW: nor a link planted under it.
    for (int attempt = 0; created < 0; ++attempt) {
        temp = TemporaryName(m_name);
        created = ::openat(m_directoryFd.Get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (created < 0 && (errno != EEXIST || attempt == 8)) Throw("cannot create a temporary file in", m_directory);
    }
    istd::UniqueFd fd(created);
    const std::string tempPath = m_directory + "/" + temp;
    try {
        WriteAll(fd.Get(), text, tempPath);
        if (::fsync(fd.Get()) != 0) Throw("cannot sync", tempPath);
        if (::close(fd.Release()) != 0) Throw("cannot close", tempPath);
        if (::renameat(m_directoryFd.Get(), temp.c_str(), m_directoryFd.Get(), m_name.c_str()) != 0) Throw("cannot replace", m_path);
    } catch (...) {
        ::unlinkat(m_directoryFd.Get(), temp.c_str(), 0);
        throw;
    }
    if (::fsync(m_directoryFd.Get()) != 0) Throw("cannot sync directory", m_directory);
}

std::vector<SavedValue> StateFile::Load(const Tree& tree, std::ostream& warnings) const {
    const istd::UniqueFd fd(::openat(m_directoryFd.Get(), m_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.IsValid()) {
        if (errno == ENOENT) return {};
        if (errno == ELOOP) Refuse(FileKind(S_IFLNK));
        Throw("cannot read the state file", m_path);
    }
    // Checked again on what was opened: the name may have changed since.
    struct stat file {};
    if (::fstat(fd.Get(), &file) != 0) Throw("cannot read the state file", m_path);
    if (!S_ISREG(file.st_mode)) Refuse(FileKind(file.st_mode));
    if (file.st_uid != ::geteuid()) Refuse("is owned by another user (uid " + std::to_string(file.st_uid) + ")");
    return Parse(ReadAll(fd.Get(), m_path), m_path, tree, warnings);
}

std::vector<SavedValue> StateFile::Parse(const std::string& text, const std::string& path, const Tree& tree,
                                         std::ostream& warnings) {
    const std::optional<EndOfState> end = FindEndLine(text);
    if (!end) Damaged(path, ": has no valid end line (it was cut short, or not written by velnor-registryd)");
    const std::string body = text.substr(0, end->bodyBytes);
    if (Crc32(body) != end->crc)
        Damaged(path, ": its content does not match the checksum of its end line (it was changed or damaged)");
    YAML::Node document;
    try {
        CheckYamlLimits(body, path, StateNodeLimit(), c_stateDepth);
        document = YAML::Load(body);
    } catch (const LoadError& e) {
        throw DamagedStateError(e.what() + c_useDefaults);
    } catch (const YAML::Exception& e) {
        Damaged(path, ":" + std::to_string(e.mark.line + 1) + ": " + e.msg);
    }
    if (!document.IsNull() && !document.IsMap()) Damaged(path, ": not a state file");
    std::uint64_t held = 0;
    for (Root root : {Root::Application, Root::Platform}) {
        const YAML::Node entries = document.IsNull() ? YAML::Node() : document[RootKey(root)];
        if (entries && entries.IsMap()) held += entries.size();
    }
    if (held != end->entries)
        Damaged(path, ": its end line counts " + std::to_string(end->entries) + " entries, it holds " + std::to_string(held));
    std::vector<SavedValue> result;
    if (document.IsNull()) return result;
    for (Root root : {Root::Application, Root::Platform}) {
        const YAML::Node entries = document[RootKey(root)];
        if (!entries || !entries.IsMap()) continue;
        for (const auto& entry : entries) {
            const std::string dotted = istd::YamlTextBytes(entry.first.Tag(), entry.first.Scalar()).value_or("");
            const NodeId id = tree.Resolve(tree.RootOf(root), istd::TokenizeString(dotted, "."));
            Elements parsed;
            const std::string why = id == 0 ? "the node no longer exists" : Misfit(tree.nodes[id], entry.second, parsed);
            if (!why.empty()) {
                warnings << "velnor-registryd: warning: " << path << ": ignoring the saved value of " << RootKey(root)
                         << " node " << dotted << ": " << why << "\n";
                continue;
            }
            result.push_back({id, std::move(parsed)});
        }
    }
    return result;
}

}  // namespace velnor::server
