// aaf_object_checks.h — small checks shared by the object model's files:
// is an object of this file and of this class, and weak references to
// registered definitions.
//
// Index
//   AafIsClass / AafCheckObject     class and ownership checks
//   AafWritable                     the file takes new objects
//   AafDefinitionId                 the identification (1b01) of a definition
//   AafSetDefinitionRef             weak reference to a definition of the file
//   AafNewOf                        a new object of the file, given its class
//   AafFirstFailure                 the first failing status of a run of calls
#pragma once

#include "export/aaf_objects.h"

// Ok, or why nothing may be added to the file: FileClosed, ReadOnly.
inline AafStatus AafWritable(const AafFile& file) {
    if (file.closed) return AafStatus::FileClosed;
    return file.readOnly ? AafStatus::ReadOnly : AafStatus::Ok;
}

inline bool AafIsClass(const AafObject* object, const AafAuid& classId) {
    return object && object->classId == classId;
}

// Ok when `object` exists, belongs to the file and is of `classId`.
inline AafStatus AafCheckObject(const AafFile& file, const AafObject* object, const AafAuid& classId) {
    if (!object) return AafStatus::NullArgument;
    if (object->owner != &file.store) return AafStatus::ForeignObject;
    if (!(object->classId == classId)) return AafStatus::WrongClass;
    return AafStatus::Ok;
}

// The 16 bytes of a definition's identification, or nullptr.
inline const uint8_t* AafDefinitionId(const AafObject* definition) {
    size_t size = 0;
    const uint8_t* bytes = AafDataBytes(definition, kAafPropDefIdentification.pid, &size);
    return size == 16 ? bytes : nullptr;
}

// A weak reference from `object` to a definition of the file of class
// `definitionClass`, stored in the dictionary collection `target`.
inline AafStatus AafSetDefinitionRef(const AafFile& file, AafObject* object, uint16_t pid,
                                     const AafWeakTarget& target, const AafObject* definition,
                                     const AafAuid& definitionClass) {
    AafStatus s = AafCheckObject(file, definition, definitionClass);
    if (s != AafStatus::Ok) return s;
    const uint8_t* id = AafDefinitionId(definition);
    if (!id) return AafStatus::BadKey;
    return AafSetWeakRef(object, pid, target, id, 16);
}

inline AafObject* AafNewOf(AafFile& file, const AafAuid& classId) { return AafNewObject(file.store, classId); }

// Collects the first failure of a run of calls that cannot fail on a fresh,
// well-formed object but are checked all the same.
struct AafFirstFailure {
    AafStatus status = AafStatus::Ok;
    void operator+=(AafStatus s) {
        if (status == AafStatus::Ok) status = s;
    }
};
