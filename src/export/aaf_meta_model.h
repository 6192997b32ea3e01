// aaf_meta_model.h — the classes, properties and types our AAF files are made
// of, as the file's MetaDictionary describes them to a reader: every class
// the writer creates objects of (and the meta classes of the dictionary
// itself) with its parents up to the root classes, each with the definitions
// of the properties the writer sets on it and of its required ones, and
// every type those properties need, down to the integers.
//
// Index
//   AafMetaTypeKind          which type-definition class a type is
//   AafMetaClass / AafMetaProperty / AafMetaType          one definition each
//   AafMetaMember / AafMetaEnumerator / AafMetaExtEnumerator / AafMetaTargetStep
//                            the lists inside records, enumerations and weak references
//   AafMetaModel / AafFileMetaModel   the tables
//   AafFillMetaDictionary    the MetaDictionary's two sets, built from the tables
//
// Readers take the file's definitions over their own (pyaaf2 decodes every
// value through them; LibAAF resolves every class's parent through them), so
// a definition missing here is a property or class a reader cannot read. The
// save checks that every weak reference among them resolves.
#pragma once

#include <cstdint>
#include <span>

#include "export/aaf_storage.h"

enum class AafMetaTypeKind {
    Integer,         // number: size in bytes; isSigned
    Character,       // a UTF-16 unit
    String,          // target: the character type
    Enumeration,     // target: the element type; AafMetaEnumerator values
    ExtEnumeration,  // AafMetaExtEnumerator values
    Record,          // AafMetaMember fields
    FixedArray,      // target: the element type; number: the count
    VariableArray,   // target: the element type
    Set,             // target: the element type
    StrongRef,       // target: the referenced class
    WeakRef,         // target: the referenced class; AafMetaTargetStep path from the root
    Rename,          // target: the renamed type
    Indirect,        // a value of any type, stored with its type
    Stream,          // bytes stored as a stream of their own
};

// A class; `parent` equal to `id` marks a root of the class tree.
struct AafMetaClass {
    const char* name;
    AafAuid id;
    AafAuid parent;
    bool concrete;
};

struct AafMetaProperty {
    AafAuid owner;  // the class that defines it
    const char* name;
    uint16_t pid;
    AafAuid id;
    AafAuid type;
    bool optional;
    bool unique;  // the key of the objects of its class
};

struct AafMetaType {
    const char* name;
    AafAuid id;
    AafMetaTypeKind kind;
    AafAuid target;
    uint32_t number;
    bool isSigned;
};

struct AafMetaMember {
    AafAuid record;
    const char* name;
    AafAuid type;
};

struct AafMetaEnumerator {
    AafAuid type;
    const char* name;
    int64_t value;
};

struct AafMetaExtEnumerator {
    AafAuid type;
    const char* name;
    AafAuid value;
};

// One property of the path from the root to the set a weak reference points
// into, in order.
struct AafMetaTargetStep {
    AafAuid type;
    AafAuid property;
};

struct AafMetaModel {
    std::span<const AafMetaClass> classes;
    std::span<const AafMetaProperty> properties;
    std::span<const AafMetaType> types;
    std::span<const AafMetaMember> members;
    std::span<const AafMetaEnumerator> enumerators;
    std::span<const AafMetaExtEnumerator> extEnumerators;
    std::span<const AafMetaTargetStep> targetSteps;
};

// The definitions every file we write carries.
const AafMetaModel& AafFileMetaModel();

// Creates the MetaDictionary's ClassDefinitions (0003) and TypeDefinitions
// (0004) sets on `metaDictionary` and fills them with `model`.
AafStatus AafFillMetaDictionary(AafStore& store, AafObject* metaDictionary, const AafMetaModel& model);
