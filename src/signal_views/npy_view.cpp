#include "signal_views/npy_view.h"

#include <ctime>
#include <fstream>
#include <iostream>

#include "istd/exception.h"
#include "rove_format.h"
#include "rove_json.h"
#include "signal_views/npy_format.h"

namespace signal_views {
namespace {

rove_json::Json MetaValue(const std::optional<isig::SignalMeta>& meta, isig::SignalMetaId_e id) {
    if (!meta) return nullptr;
    const auto it = meta->find(id);
    return it == meta->end() ? rove_json::Json(nullptr) : rove_json::Json(it->second);
}

std::string Shown(const std::string& path) { return path == "-" ? std::string("standard output") : path; }

}  // namespace

std::string NpyView::EachPath(const std::string& path, std::uint64_t pass) {
    const std::string suffix = ".npy";
    const bool named = path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
    return (named ? path.substr(0, path.size() - suffix.size()) : path) + "." + std::to_string(pass) + suffix;
}

NpyView::NpyView(const SignalShape& shape, NpySettings settings)
    : m_shape(shape),
      m_settings(std::move(settings)),
      m_type(NpyTypeString(shape.atomType)),
      m_fields(NpyFieldNames(shape.components)),
      m_started(std::chrono::system_clock::now()),
      m_startedSteady(std::chrono::steady_clock::now()) {
    if (m_type.empty()) throw istd::Exception("signal: --npy: unknown atom type " + std::to_string(shape.atomType), true);
    if (!m_settings.each) Open();
}

std::string NpyView::MetaPathOf(const std::string& dataPath) const {
    if (m_settings.metaPath == "none") return {};
    if (!m_settings.metaPath.empty()) return m_settings.metaPath;
    return dataPath == "-" ? std::string() : dataPath + ".json";
}

void NpyView::Open() {
    const std::string path = m_settings.each ? EachPath(m_settings.path, m_pass) : m_settings.path;
    try {
        m_file = std::make_unique<NpyFile>(path, m_fields, m_type, m_shape.atomBytes,
                                           m_settings.each ? std::nullopt : m_settings.announced);
    } catch (const std::length_error& e) {
        throw istd::Exception(std::string("signal: --npy: ") + e.what(), true);
    }
    m_firstMeta.reset();
    m_passesInFile = 0;
    m_lost = 0;
}

void NpyView::Atoms(const void* elements, std::uint32_t atoms, const isig::SignalMeta& meta) {
    if (!m_file) Open();
    if (!m_firstMeta) m_firstMeta = meta;
    CountLost(meta, atoms);
    m_file->Append(elements, atoms);
}

void NpyView::CountLost(const isig::SignalMeta& meta, std::uint32_t atoms) {
    const auto position = meta.find(isig::eMetaPosition);
    if (position == meta.end() || position->second < 0) {
        m_nextPosition.reset();
        return;
    }
    if (m_nextPosition && position->second > *m_nextPosition)
        m_lost += static_cast<std::uint64_t>(position->second - *m_nextPosition);
    m_nextPosition = position->second + atoms;
}

void NpyView::PassDone() {
    // The next acquisition starts where its first block does.
    m_nextPosition.reset();
    ++m_passesInFile;
    if (!m_settings.each) return;
    if (!m_file) Open();  // a pass without atoms still has its (empty) file
    CloseFile(true, {});
    ++m_pass;
}

std::uint64_t NpyView::CloseFile(bool complete, const std::string& failure) {
    std::unique_ptr<NpyFile> file = std::move(m_file);
    // A write that failed ended the acquisition: it says why.
    std::string problem = file->Failure().empty() ? failure : file->Failure();
    std::uint64_t atoms = 0;
    try {
        atoms = file->Close();
    } catch (const istd::Exception& e) {
        atoms = file->Atoms();
        if (problem.empty()) problem = e.what();
        complete = false;
    }
    if (m_lost > 0 && problem.empty())
        problem = "signal: " + Shown(file->Path()) + " lacks " + std::to_string(m_lost) +
                  " atoms that the stream dropped before they were read (see --queue-size)";
    const std::string metaPath = MetaPathOf(file->Path());
    if (!metaPath.empty()) {
        rove_json::Json meta;
        meta["path"] = m_shape.path;
        meta["file"] = file->Path();
        meta["atom_type"] = AtomTypeName(m_shape.atomType);
        meta["dtype"] = m_type;
        meta["components"] = m_shape.components;
        meta["fields"] = m_fields;
        meta["access"] = m_shape.stream ? "stream" : "dod";
        if (!m_shape.stream) meta["mode"] = m_settings.mode;
        meta["atoms"] = atoms;
        meta["lost"] = m_lost;
        meta["acquisitions"] = m_passesInFile;
        meta["lmt"] = MetaValue(m_firstMeta, isig::eMetaLmt);
        meta["position"] = MetaValue(m_firstMeta, isig::eMetaPosition);
        meta["event"] = MetaValue(m_firstMeta, isig::eMetaEvent);
        meta["sample_rate"] = nullptr;  // the signal interface does not give it
        meta["started"] = UtcTimeText(m_started);
        meta["seconds"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_startedSteady).count();
        meta["complete"] = complete;
        if (!problem.empty()) meta["error"] = problem;
        std::ofstream out(metaPath, std::ios::binary | std::ios::trunc);
        out << rove_json::Line(meta) << '\n';
        out.close();
        if (!out && problem.empty()) problem = "signal: Can't write " + metaPath;
    }
    if (!complete) {
        std::cout.flush();
        std::cerr << "signal: " << Shown(file->Path()) << " holds the "
                  << atoms << " atoms acquired before the acquisition stopped" << std::endl;
    }
    if (!problem.empty() && failure.empty()) throw istd::Exception(problem, true);
    return atoms;
}

void NpyView::End(bool complete) {
    if (m_settings.each && !m_file) return;  // every pass is closed
    if (!m_file) Open();
    CloseFile(complete, complete ? std::string() : "the acquisition failed");
}

}  // namespace signal_views
