#pragma once
// signal --npy FILE: the atoms in a .npy file (one structured array of
// every pass, or with --npy-each one file per pass: FILE.0.npy, ...), and
// beside it a JSON file of what the text forms print with -v: node path,
// atom type, components, LMT and position of the first atom, sample rate,
// acquisition time.
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
    std::chrono::system_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_startedSteady;
};

}  // namespace signal_views
