// designed_names.h — catalogue-style names for layers that are not a plain library file.
//
// Index
//   UniqueDesignedName   "<category>_<title>_<NN>" from the query or the source names
//   FirstNameToken       first word of a sound's name ("Sound" when there is none)
#pragma once

#include <string>
#include <vector>

struct SearchTerm;

// index: the layer's number from 0; the name carries index + 1 with at least two digits.
std::string UniqueDesignedName(const std::vector<SearchTerm>& terms, const std::string& firstName,
                               const std::string& secondName, int index);

std::string FirstNameToken(const std::string& name);
