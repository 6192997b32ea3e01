// key_bytes.h — cache and comparison keys made of the exact bytes of fields.
//
// Index
//   KeyBytes   raw bytes of values, length-prefixed text, alloy sources
//
// A key that must tell every input apart (two regions a sample apart, a
// source moved by one bit) is made of the inputs' own bytes, never of their
// rounded text: equal keys then mean equal inputs.
#pragma once

#include <string>

#include "document/project.h"

struct KeyBytes {
    std::string bytes;

    template <class T>
    void Add(const T& value) {
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    // Length-prefixed, so that neighbouring fields cannot trade characters.
    void Add(const std::string& text) {
        Add(text.size());
        bytes.append(text);
    }
    void Add(const AlloySource& source) {
        Add(source.filepath);
        Add(source.fileId);
        Add(source.name);
        Add(source.offset);
        Add(source.duration);
    }
};
