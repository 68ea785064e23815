// The fixed locations of the programs.  They are chosen when the program is
// built (CMake cache variables CRAQ_DATA_ROOT, CRAQ_WEB_ROOT,
// CRAQ_PLACEHOLDER_DIR, CRAQ_EARLIER_TEMPLATE_DIR, CRAQ_QUERY_PAGE).  The
// library takes a Locations value as a parameter wherever it needs one, so
// tests can point it at temporary folders; only the programs' mains call
// builtInLocations().
#pragma once

#include <string>

namespace craq {

struct Locations {
    std::string dataRoot;           // ends in '/': FV/, FVC/, TEMP/, CL/ below it
    std::string webRoot;            // ends in '/': lib_0/... below it
    std::string placeholderDir;     // ends in '/': folder of the placeholder image
    std::string earlierTemplateDir; // ends in '/': the earlier tool's template set
    std::string queryPage;          // address of the front end's query page
};

const Locations &builtInLocations();

// The template set under a data root: the template map and its labels.
inline std::string templateMapPath(const std::string &dataRoot) { return dataRoot + "CL/feature_map.dat"; }
inline std::string templateLabelPath(const std::string &dataRoot) { return dataRoot + "CL/feature_label.dat"; }

}  // namespace craq
