// aaf_objects.cpp — the file, its header and identification, and the
// dictionary of the AAF object model. Mobs and segments: aaf_mobs.cpp.
//
// Index
//   NowTimeStamp          the open time
//   AafNewMobId
//   AafOpenNewFile        root, MetaDictionary, Header, Identification, Content, Dictionary
//   AafOpenExistingFile / AafOpenTransientFile
//   AafSaveFile / AafCloseFile
//   Dictionary            lookup, and registration once per id for each kind
#include "export/aaf_objects.h"

#include <sys/time.h>

#include <cstring>
#include <ctime>

#include "export/aaf_meta_model.h"
#include "export/aaf_object_checks.h"
#include "platform/file_util.h"

namespace {

AafTimeStamp NowTimeStamp() {
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    struct tm t {};
    time_t seconds = tv.tv_sec;
    ::gmtime_r(&seconds, &t);
    AafTimeStamp s;
    s.year = static_cast<int16_t>(t.tm_year + 1900);
    s.month = static_cast<uint8_t>(t.tm_mon + 1);
    s.day = static_cast<uint8_t>(t.tm_mday);
    s.hour = static_cast<uint8_t>(t.tm_hour);
    s.minute = static_cast<uint8_t>(t.tm_min);
    s.second = static_cast<uint8_t>(t.tm_sec);
    s.fraction = static_cast<uint8_t>(tv.tv_usec / 4000);  // 1/250 s
    return s;
}

std::string IdKey(const AafAuid& id) {
    auto b = id.Bytes();
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

AafObject* NewIdentification(AafFile& file, const AafProductIdentification& ident, AafFirstFailure& f) {
    AafObject* id = AafNewOf(file, kAafClassIdentification);
    f += AafSetString(id, kAafPropIdentCompanyName.pid, ident.companyName);
    f += AafSetString(id, kAafPropIdentProductName.pid, ident.productName);
    std::vector<uint8_t> version;
    const AafProductVersion& v = ident.productVersion;
    for (uint16_t part : {v.major, v.minor, v.tertiary, v.patchLevel}) AafAppendUInt16(version, part);
    version.push_back(v.type);
    f += AafSetData(id, kAafPropIdentProductVersion.pid, version.data(), version.size());
    f += AafSetString(id, kAafPropIdentProductVersionString.pid,
                      ident.productVersionString.empty() ? "Unknown version" : ident.productVersionString);
    f += AafSetAuid(id, kAafPropIdentProductId.pid, ident.productId);
    f += AafSetTimeStamp(id, kAafPropIdentDate.pid, file.openTime);
    AafAuid generation;
    auto bytes = generation.Bytes();
    FillRandomBytes(bytes.data(), bytes.size());
    f += AafSetAuid(id, kAafPropIdentGenerationAuid.pid, AafAuid::FromBytes(bytes.data()));
    return id;
}

// Where the dictionary keeps a kind of definition, and the class of its objects.
struct DefinitionPlace {
    const AafPropertyId& set;
    const AafAuid& objectClass;
};

DefinitionPlace PlaceOf(AafDefinitionKind kind) {
    switch (kind) {
        case AafDefinitionKind::Data: return {kAafPropDictDataDefinitions, kAafClassDataDefinition};
        case AafDefinitionKind::Operation: return {kAafPropDictOperationDefinitions, kAafClassOperationDefinition};
        case AafDefinitionKind::Parameter: return {kAafPropDictParameterDefinitions, kAafClassParameterDefinition};
        case AafDefinitionKind::Interpolation: break;
    }
    return {kAafPropDictInterpolationDefinitions, kAafClassInterpolationDefinition};
}

const AafPropertyId& DictionarySet(AafDefinitionKind kind) { return PlaceOf(kind).set; }
const AafAuid& DefinitionClass(AafDefinitionKind kind) { return PlaceOf(kind).objectClass; }

// A new definition object with its identification, name and description,
// not yet in the dictionary; DuplicateKey (and the existing one) when the id
// is registered already.
AafStatus NewDefinition(AafFile& file, AafDefinitionKind kind, const AafAuid& id, std::string_view name,
                        std::string_view description, AafObject** out) {
    if (AafStatus s = AafWritable(file); s != AafStatus::Ok) return s;
    if (!out) return AafStatus::NullArgument;
    *out = nullptr;
    auto found = file.definitions.find({kind, IdKey(id)});
    if (found != file.definitions.end()) {
        *out = found->second;
        return AafStatus::DuplicateKey;
    }
    AafObject* def = AafNewOf(file, DefinitionClass(kind));
    AafFirstFailure f;
    f += AafSetAuid(def, kAafPropDefIdentification.pid, id);
    f += AafSetString(def, kAafPropDefName.pid, name);
    if (!description.empty()) f += AafSetString(def, kAafPropDefDescription.pid, description);
    if (f.status != AafStatus::Ok) return f.status;
    *out = def;
    return AafStatus::Ok;
}

// Puts a finished definition into its dictionary set.
AafStatus Register(AafFile& file, AafDefinitionKind kind, AafObject* def) {
    const AafPropertyId& set = DictionarySet(kind);
    if (!AafFindProperty(file.dictionary, set.pid)) {
        AafStatus s = AafCreateSet(file.dictionary, set.pid, set.name, kAafPropDefIdentification.pid, 16);
        if (s != AafStatus::Ok) return s;
    }
    AafStatus s = AafAddToSet(file.dictionary, set.pid, def);
    if (s != AafStatus::Ok) return s;
    file.definitions[{kind, std::string(reinterpret_cast<const char*>(AafDefinitionId(def)), 16)}] = def;
    return AafStatus::Ok;
}

}  // namespace

AafMobId AafNewMobId() {
    AafMobId id;
    std::memcpy(id.label.data(), kAafUmidLabelRandom, sizeof kAafUmidLabelRandom);
    id.length = kAafUmidLength;
    uint8_t material[16];
    FillRandomBytes(material, sizeof material);
    id.material = AafAuid::FromBytes(material);
    return id;
}

// --- Opening, saving, closing ---------------------------------------------------

namespace {

AafStatus NewFile(const std::string& path, const AafProductIdentification& identification,
                  std::unique_ptr<AafFile>* out) {
    auto file = std::make_unique<AafFile>();
    file->path = path;
    file->openTime = NowTimeStamp();
    AafFirstFailure f;

    AafObject* root = AafNewOf(*file, kAafClassRoot);
    f += AafSetRoot(file->store, root);
    file->root = root;
    // The file describes itself: every class it uses and every type those
    // classes' properties need.
    AafObject* meta = AafNewOf(*file, kAafClassMetaDictionary);
    f += AafSetStrongRef(root, kAafPropRootMetaDictionary.pid, kAafPropRootMetaDictionary.name, meta);
    f += AafFillMetaDictionary(file->store, meta, AafFileMetaModel());

    AafObject* header = AafNewOf(*file, kAafClassHeader);
    file->header = header;
    f += AafSetStrongRef(root, kAafPropRootHeader.pid, kAafPropRootHeader.name, header);
    f += AafSetInt16(header, kAafPropHeaderByteOrder.pid, 0x4949);
    f += AafSetTimeStamp(header, kAafPropHeaderLastModified.pid, file->openTime);
    const uint8_t version[2] = {1, 1};
    f += AafSetData(header, kAafPropHeaderVersion.pid, version, sizeof version);
    f += AafSetUInt32(header, kAafPropHeaderObjectModelVersion.pid, 1);
    f += AafSetAuid(header, kAafPropHeaderOperationalPattern.pid, kAafOpEditProtocol);
    f += AafCreateVector(header, kAafPropHeaderIdentificationList.pid, kAafPropHeaderIdentificationList.name,
                         AafEmpty::Write);
    f += AafAppendToVector(header, kAafPropHeaderIdentificationList.pid, NewIdentification(*file, identification, f));

    file->content = AafNewOf(*file, kAafClassContentStorage);
    f += AafSetStrongRef(header, kAafPropHeaderContent.pid, kAafPropHeaderContent.name, file->content);
    f += AafCreateSet(file->content, kAafPropContentMobs.pid, kAafPropContentMobs.name, kAafPropMobId.pid, 32,
                      AafEmpty::Write);
    // Essence is linked, never embedded, so this set stays empty; readers
    // that take it for required find it all the same.
    f += AafCreateSet(file->content, kAafPropContentEssenceData.pid, kAafPropContentEssenceData.name, 0x2701, 32,
                      AafEmpty::Write);

    file->dictionary = AafNewOf(*file, kAafClassDictionary);
    f += AafSetStrongRef(header, kAafPropHeaderDictionary.pid, kAafPropHeaderDictionary.name, file->dictionary);
    AafObject* def = nullptr;
    f += AafRegisterDataDef(*file, kAafDataDefSound, "Sound", "Sound data", &def);
    f += AafRegisterDataDef(*file, kAafDataDefTimecode, "Timecode", "Timecode data", &def);

    if (f.status != AafStatus::Ok) return f.status;
    *out = std::move(file);
    return AafStatus::Ok;
}

AafObject* StrongChild(AafObject* object, uint16_t pid) {
    AafProperty* p = AafFindProperty(object, pid);
    return p && p->form == AafForm::StrongRef && !p->children.empty() ? p->children[0] : nullptr;
}

}  // namespace

AafStatus AafOpenNewFile(const std::string& path, const AafProductIdentification& identification,
                         std::unique_ptr<AafFile>* out) {
    if (!out || path.empty()) return AafStatus::NullArgument;
    return NewFile(path, identification, out);
}

AafStatus AafOpenTransientFile(const AafProductIdentification& identification, std::unique_ptr<AafFile>* out) {
    if (!out) return AafStatus::NullArgument;
    AafStatus s = NewFile("", identification, out);
    if (s == AafStatus::Ok) (*out)->transient = true;
    return s;
}

AafStatus AafOpenExistingFile(const std::string& path, const AafProductIdentification* modifier,
                              std::unique_ptr<AafFile>* out, std::string* detail) {
    if (!out || path.empty()) return AafStatus::NullArgument;
    auto file = std::make_unique<AafFile>();
    file->path = path;
    file->openTime = NowTimeStamp();
    AafStatus s = AafLoadStore(path, file->store, detail);
    if (s != AafStatus::Ok) return s;
    file->root = file->store.root;
    file->header = StrongChild(file->root, kAafPropRootHeader.pid);
    file->content = StrongChild(file->header, kAafPropHeaderContent.pid);
    file->dictionary = StrongChild(file->header, kAafPropHeaderDictionary.pid);
    if (!file->header || !file->content || !file->dictionary) {
        if (detail) *detail = "no header, content storage or dictionary";
        return AafStatus::Unreadable;
    }
    // What the calls look up: the definitions by kind and id, the mobs by id.
    for (AafDefinitionKind kind : {AafDefinitionKind::Data, AafDefinitionKind::Operation,
                                   AafDefinitionKind::Parameter, AafDefinitionKind::Interpolation})
        if (const AafProperty* set = AafFindProperty(file->dictionary, DictionarySet(kind).pid))
            for (AafObject* def : set->children)
                if (const uint8_t* id = AafDefinitionId(def))
                    file->definitions[{kind, std::string(reinterpret_cast<const char*>(id), 16)}] = def;
    if (const AafProperty* mobs = AafFindProperty(file->content, kAafPropContentMobs.pid))
        for (const AafObject* mob : mobs->children) {
            size_t size = 0;
            const uint8_t* id = AafDataBytes(mob, kAafPropMobId.pid, &size);
            if (id && size == 32) file->mobIds.insert(std::string(reinterpret_cast<const char*>(id), size));
        }
    if (modifier) {
        // The modifier signs the file, and the file says when it changed.
        AafFirstFailure f;
        f += AafAppendToVector(file->header, kAafPropHeaderIdentificationList.pid,
                               NewIdentification(*file, *modifier, f));
        AafObject stamp;
        f += AafSetTimeStamp(&stamp, kAafPropHeaderLastModified.pid, file->openTime);
        const std::vector<uint8_t>& bytes = stamp.properties[0].data;
        f += AafReplaceData(file->header, kAafPropHeaderLastModified.pid, bytes.data(), bytes.size());
        if (f.status != AafStatus::Ok) return f.status;
    } else {
        file->readOnly = true;
    }
    *out = std::move(file);
    return AafStatus::Ok;
}

AafStatus AafSaveFile(AafFile& file, std::string* detail) {
    if (file.closed) return AafStatus::FileClosed;
    if (file.readOnly) return AafStatus::ReadOnly;
    if (file.transient) return AafStatus::Transient;
    return AafSaveStore(file.store, file.path, detail, file.writeFault);
}

AafStatus AafCloseFile(AafFile& file) {
    if (file.closed) return AafStatus::FileClosed;
    file.closed = true;
    return AafStatus::Ok;
}

// --- Dictionary -------------------------------------------------------------------

AafStatus AafLookupDefinition(const AafFile& file, AafDefinitionKind kind, const AafAuid& id, AafObject** out) {
    if (!out) return AafStatus::NullArgument;
    *out = nullptr;
    if (file.closed) return AafStatus::FileClosed;
    auto found = file.definitions.find({kind, IdKey(id)});
    if (found == file.definitions.end()) return AafStatus::NotFound;
    *out = found->second;
    return AafStatus::Ok;
}

AafStatus AafRegisterDataDef(AafFile& file, const AafAuid& id, std::string_view name,
                             std::string_view description, AafObject** out) {
    AafStatus s = NewDefinition(file, AafDefinitionKind::Data, id, name, description, out);
    return s == AafStatus::Ok ? Register(file, AafDefinitionKind::Data, *out) : s;
}

AafStatus AafRegisterParameterDef(AafFile& file, const AafAuid& id, std::string_view name,
                                  std::string_view description, const AafAuid& type, AafObject** out) {
    AafStatus s = NewDefinition(file, AafDefinitionKind::Parameter, id, name, description, out);
    if (s != AafStatus::Ok) return s;
    // The type is one of the MetaDictionary's: the save checks it is there.
    auto typeId = type.Bytes();
    s = AafSetWeakRef(*out, kAafPropParamDefType.pid, kAafTargetTypeDefinitions, typeId.data(), 16);
    return s == AafStatus::Ok ? Register(file, AafDefinitionKind::Parameter, *out) : s;
}

AafStatus AafRegisterInterpolationDef(AafFile& file, const AafAuid& id, std::string_view name,
                                      std::string_view description, AafObject** out) {
    AafStatus s = NewDefinition(file, AafDefinitionKind::Interpolation, id, name, description, out);
    return s == AafStatus::Ok ? Register(file, AafDefinitionKind::Interpolation, *out) : s;
}

AafStatus AafRegisterOperationDef(AafFile& file, const AafOperationDefInfo& info, AafObject** out) {
    if (AafStatus s = AafWritable(file); s != AafStatus::Ok) return s;
    // Everything the definition refers to must be registered before it is.
    for (const AafObject* param : info.parameters) {
        AafStatus s = AafCheckObject(file, param, kAafClassParameterDefinition);
        if (s != AafStatus::Ok) return s;
    }
    AafStatus s = AafCheckObject(file, info.dataDef, kAafClassDataDefinition);
    if (s != AafStatus::Ok) return s;
    s = NewDefinition(file, AafDefinitionKind::Operation, info.id, info.name, info.description, out);
    if (s != AafStatus::Ok) return s;
    AafObject* def = *out;
    AafFirstFailure f;
    f += AafSetDefinitionRef(file, def, kAafPropOpDefDataDefinition.pid, kAafTargetDataDefinitions, info.dataDef,
                             kAafClassDataDefinition);
    f += AafSetBoolean(def, kAafPropOpDefIsTimeWarp.pid, info.isTimeWarp);
    f += AafSetInt32(def, kAafPropOpDefNumberInputs.pid, info.numberInputs);
    if (!info.parameters.empty()) {
        f += AafCreateWeakSet(def, kAafPropOpDefParametersDefined.pid, kAafPropOpDefParametersDefined.name,
                              kAafTargetParameterDefinitions, 16);
        for (const AafObject* param : info.parameters)
            f += AafAddToWeakSet(def, kAafPropOpDefParametersDefined.pid, AafDefinitionId(param), 16);
    }
    if (f.status != AafStatus::Ok) {
        *out = nullptr;
        return f.status;
    }
    return Register(file, AafDefinitionKind::Operation, def);
}
