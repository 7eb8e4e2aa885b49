// What a hostile user leaves in a target folder before an export: links,
// hard links and FIFOs at the places the export is about to write, chosen
// by the input bytes so that the fuzzer varies them with the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "catalogue/uChmExtractor.h"

namespace vexmor::fuzz {

struct PlantPlaces {
    std::string target;   // the export's folder
    std::string outside;  // holds the file "victim" and the folder "folder"
    std::string input;    // the help file being exported
};

// Plants at the places of up to 16 of the items `candidates` lists (indexes
// into `items`, spread over the list): at one level of an item's inner path
// or at its own name, the levels above made real folders. Returns the paths
// planted, relative to the target.
std::set<std::string> PlantAtItems(const TChmItems& items, const std::vector<std::size_t>& candidates,
                                   const std::uint8_t* data, std::size_t size, const PlantPlaces& places);

}  // namespace vexmor::fuzz
