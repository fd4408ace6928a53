#pragma once
// The signal command's views (--plot, --npy) as the command drives them:
// the options, one scope per signal node, and the hooks the readers call
// for every block and every pass. Without --plot and --npy none of this
// does anything, and the printers write as before.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/program_options/variables_map.hpp>

#include "isig/signal_meta.h"
#include "isig/signal_source.h"
#include "signal_views/signal_view.h"

namespace signal_views {

// Checks the view options of the command line and completes g_params;
// throws istd::Exception on options that do not go together.
void ApplyOptions(const boost::program_options::variables_map& vm);

// The views of one signal node: started when the scope is built (after the
// atom type and components are known), ended when it goes. Finish() ends
// them after a run that went through; without it (an exception, a failed
// pass) they end as incomplete.
class ViewScope {
public:
    ViewScope(const std::string& path, const isig::SignalSource& source);
    ~ViewScope();
    ViewScope(const ViewScope&) = delete;
    ViewScope& operator=(const ViewScope&) = delete;

    void Finish();

private:
    std::vector<std::unique_ptr<SignalView>> m_views;
    unsigned m_failuresBefore;
    bool m_ended = false;
};

// Hands a block to the views of the node being read; false when there are
// none, and the block is printed as before.
bool DeliverAtoms(const void* elements, std::uint32_t atoms, const isig::SignalMeta& meta);
// One acquisition pass is complete.
void DeliverPassDone();

}  // namespace signal_views
