#pragma once
// signal --npy FILE: the atoms in a .npy file (one structured array of
// every pass, or with --npy-each one file per pass: FILE.0.npy, ...), and
// beside it a JSON file of what the text forms print with -v: node path,
// atom type, components, LMT and position of the first atom, sample rate,
// acquisition time.
//
// Atoms that a stream dropped within an acquisition (the reader fell behind
// and its queue was full, or the source lost them) leave the file valid but
// not contiguous: the metadata counts them ("lost") and the run fails.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "isig/signal_meta.h"
#include "signal_views/npy_file.h"
#include "signal_views/signal_view.h"

namespace signal_views {

struct NpySettings {
    std::string path;      // "-": standard output
    bool each = false;     // one file per pass
    std::string metaPath;  // empty: "<data file>.json" (none for "-"); "none": no metadata file
    // Atoms of the whole run when known before the first atom (a file that
    // cannot be rewritten, such as a pipe, needs it).
    std::optional<std::uint64_t> announced;
    std::string mode;  // data on demand: the access mode's name
};

class NpyView : public SignalView {
public:
    // Opens the file (with --npy-each: the first on its first atom).
    NpyView(const SignalShape& shape, NpySettings settings);

    void Atoms(const void* elements, std::uint32_t atoms, const isig::SignalMeta& meta) override;
    void PassDone() override;
    void End(bool complete) override;

    // The file of pass `pass` with --npy-each: FILE without ".npy", then
    // ".<pass>.npy".
    static std::string EachPath(const std::string& path, std::uint64_t pass);

private:
    void Open();
    // Counts the atoms missing between the block before and this one.
    void CountLost(const isig::SignalMeta& meta, std::uint32_t atoms);
    // Closes the data file and writes its metadata; gives the atoms it holds.
    std::uint64_t CloseFile(bool complete, const std::string& failure);
    std::string MetaPathOf(const std::string& dataPath) const;

    SignalShape m_shape;
    NpySettings m_settings;
    std::string m_type;
    std::vector<std::string> m_fields;
    std::unique_ptr<NpyFile> m_file;
    std::uint64_t m_pass = 0;
    std::uint64_t m_passesInFile = 0;
    std::optional<isig::SignalMeta> m_firstMeta;  // of the file's first atom
    std::optional<std::int64_t> m_nextPosition;   // of the atom after the pass's last
    std::uint64_t m_lost = 0;                     // atoms missing within passes of the file
    std::chrono::system_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_startedSteady;
};

}  // namespace signal_views
