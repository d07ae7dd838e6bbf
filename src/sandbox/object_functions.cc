#include "sandbox/object_functions.h"

#include <filesystem>

#include "sandbox/catalog.h"
#include "sandbox/collation.h"
#include "sandbox/executor.h"
#include "sandbox/fulltext.h"
#include "sandbox/session.h"
#include "sandbox/sql_error.h"
#include "sandbox/system_tables.h"

namespace sandbox {

using common::Value;
using Args = std::vector<Value>;

namespace {

std::string TextOf(const Args& args, size_t i) {
  return i < args.size() && !args[i].IsNull() ? args[i].ToText() : std::string();
}

std::optional<std::int64_t> IntOf(const Args& args, size_t i) {
  if (i >= args.size() || args[i].IsNull()) return std::nullopt;
  return args[i].ToInt();
}

Value Flag(bool on) { return Value(on ? 1 : 0); }

// What a name given as text stands for: an object of an attached database or a #table.
struct NamedObject {
  AttachedDatabase* db = nullptr;
  const ObjectInfo* object = nullptr;
  TempTable* temp = nullptr;
  const SystemTableEntry* system = nullptr;  // sysobjects and its kind, owned by dbo
};

NamedObject FindNamed(SessionImpl& session, std::string_view text) {
  NamedObject out;
  auto parts = ParseObjectName(text);
  if (!parts || parts->empty() || parts->back().empty()) return out;
  const std::string& object = parts->back();
  if (object[0] == '#') {
    out.temp = session.FindTemp(object);
    return out;
  }
  std::string owner = parts->size() >= 2 ? (*parts)[parts->size() - 2] : "";
  try {
    out.db = parts->size() >= 3 && !(*parts)[parts->size() - 3].empty()
                 ? &session.Database((*parts)[parts->size() - 3])
                 : &session.Current();
  } catch (const SqlError&) {
    return out;  // an unknown or closed database: no such object
  }
  out.object = out.db->catalog->Find(object, owner, session.UserId(*out.db));
  if (!out.object && (owner.empty() || EqualsNoCase(owner, "dbo")))
    out.system = FindSystemTable(object, out.db->dbid);
  return out;
}

const ObjectInfo* FindById(SessionImpl& session, const Args& args, size_t i) {
  auto id = IntOf(args, i);
  return id ? session.Current().catalog->FindById(*id) : nullptr;
}

std::optional<std::int64_t> Scale(const SqlType& type) {
  if (type.IsInteger() || type.kind == TypeKind::kBit || type.kind == TypeKind::kSmallDateTime)
    return 0;
  if (type.kind == TypeKind::kDecimal || type.kind == TypeKind::kNumeric) return type.scale;
  if (type.kind == TypeKind::kMoney || type.kind == TypeKind::kSmallMoney) return 4;
  if (type.kind == TypeKind::kDateTime) return 3;
  return std::nullopt;
}

Value OptionalInt(std::optional<std::int64_t> v) {
  return v ? Value(static_cast<long long>(*v)) : Value();
}

// --- functions ---------------------------------------------------------------------------

Value ObjectId(SessionImpl& session, const Args& args) {
  NamedObject found = FindNamed(session, TextOf(args, 0));
  if (found.temp) return Value(static_cast<long long>(found.temp->info.id));
  if (found.system) return Value(found.system->id);
  return found.object ? Value(static_cast<long long>(found.object->id)) : Value();
}

Value ObjectName(SessionImpl& session, const Args& args) {
  const ObjectInfo* info = FindById(session, args, 0);
  if (info) return Value(info->name);
  auto id = IntOf(args, 0);
  const SystemTableEntry* system = id ? FindSystemTable(*id, session.Current().dbid) : nullptr;
  return system ? Value(system->name) : Value();
}

Value ColLength(SessionImpl& session, const Args& args) {
  NamedObject found = FindNamed(session, TextOf(args, 0));
  const ObjectInfo* info = found.temp ? &found.temp->info : found.object;
  if (!info) return Value();
  const ColumnInfo* c = info->FindColumn(TextOf(args, 1));
  return c ? Value(c->type.ByteLength()) : Value();
}

Value ColName(SessionImpl& session, const Args& args) {
  const ObjectInfo* info = FindById(session, args, 0);
  auto colid = IntOf(args, 1);
  if (!info || !colid) return Value();
  for (const ColumnInfo& c : info->columns)
    if (c.colid == *colid) return Value(c.name);
  return Value();
}

// IDENT_CURRENT, IDENT_SEED and IDENT_INCR: NULL for tables without an identity column.
template <int kWhich>  // 0 current, 1 seed, 2 increment
Value Ident(SessionImpl& session, const Args& args) {
  NamedObject found = FindNamed(session, TextOf(args, 0));
  if (found.temp) {
    const ColumnInfo* identity = found.temp->info.IdentityColumn();
    if (!identity) return Value();
    if (kWhich == 1) return Value(static_cast<long long>(identity->seed));
    if (kWhich == 2) return Value(static_cast<long long>(identity->increment));
    return Value(static_cast<long long>(found.temp->identity_used ? found.temp->identity_current
                                                                  : identity->seed));
  }
  if (!found.object) return Value();
  const ColumnInfo* identity = found.object->IdentityColumn();
  if (!identity) return Value();
  if (kWhich == 1) return Value(static_cast<long long>(identity->seed));
  if (kWhich == 2) return Value(static_cast<long long>(identity->increment));
  auto value = found.db->catalog->IdentityCurrent(session.connection(), found.object->id);
  return Value(static_cast<long long>(value ? *value : identity->seed));
}

bool HasConstraint(SessionImpl& session, const ObjectInfo& table, ObjectType type) {
  for (const ObjectInfo* o : session.Current().catalog->Objects())
    if (o->type == type && o->parent == table.id) return true;
  return false;
}

// OBJECTPROPERTY of a system table or view: the server's, owned by dbo; NULL for what it is not.
Value SystemObjectProperty(SessionImpl& session, const Args& args, const std::string& property) {
  auto id = IntOf(args, 0);
  const SystemTableEntry* system = id ? FindSystemTable(*id, session.Current().dbid) : nullptr;
  if (!system) return Value();
  const bool table = system->type[0] == 'S';
  struct Kind {
    const char* property;
    bool value;
  };
  const Kind kinds[] = {{"istable", table},       {"issystemtable", table}, {"isview", !table},
                        {"ismsshipped", true},    {"isusertable", false},   {"isprocedure", false},
                        {"isconstraint", false},  {"istrigger", false},     {"isansinullson", true},
                        {"isquotedidenton", true}};
  for (const Kind& k : kinds)
    if (property == k.property) return Flag(k.value);
  if (property == "ownerid") return Value(1);
  return Value();
}

Value ObjectPropertyFunction(SessionImpl& session, const Args& args) {
  const ObjectInfo* info = FindById(session, args, 0);
  const std::string property = Lower(TextOf(args, 1));
  if (!info) return SystemObjectProperty(session, args, property);
  const bool table = info->type == ObjectType::kTable;
  const bool constraint = info->type == ObjectType::kCheck || info->type == ObjectType::kForeignKey;
  struct Kind {
    const char* property;
    bool value;
  };
  const Kind kinds[] = {
      {"istable", table},
      {"isusertable", table},
      {"isview", info->type == ObjectType::kView},
      {"isprocedure", info->type == ObjectType::kProcedure},
      {"isexecuted", info->type == ObjectType::kProcedure},
      {"ischeckcnst", info->type == ObjectType::kCheck},
      {"isforeignkey", info->type == ObjectType::kForeignKey},
      {"isscalarfunction", info->type == ObjectType::kScalarFunction},
      {"isinlinefunction", info->type == ObjectType::kInlineFunction},
      {"istablefunction", info->type == ObjectType::kInlineFunction ||
                              info->type == ObjectType::kTableFunction},
      {"isconstraint", constraint},
      {"istrigger", info->type == ObjectType::kTrigger},
      {"isprimarykey", false},
      {"isdefault", false},
      {"isdefaultcnst", false},
      {"isrule", false},
      {"istrigger", false},
      {"isscalarfunction", false},
      {"istablefunction", false},
      {"isinlinefunction", false},
      {"isextendedproc", false},
      {"isreplproc", false},
      {"issystemtable", false},
      {"ismsshipped", false},
  };
  for (const Kind& k : kinds)
    if (property == k.property) return Flag(k.value);
  if (property == "ownerid") return Value(info->uid);
  if (auto trigger = FactsOfTrigger(session, session.Current(), *info)) {
    const std::pair<const char*, bool> facts[] = {
        {"execisinserttrigger", trigger->insert},
        {"execisupdatetrigger", trigger->update},
        {"execisdeletetrigger", trigger->del},
        {"execisaftertrigger", !trigger->instead_of},
        {"execisinsteadoftrigger", trigger->instead_of},
        {"execistriggerdisabled", trigger->disabled},
    };
    for (const auto& [name, value] : facts)
      if (property == name) return Flag(value);
  }
  // Options every object of the sandbox was made with.
  if (property == "isansinullson" || property == "isquotedidenton") return Flag(true);
  if (property == "isschemabound" || property == "isencrypted") return Flag(false);
  if (constraint && (property == "cnstisdisabled" || property == "cnstisnottrusted" ||
                     property == "cnstisnotrepl"))
    return Flag(false);
  if (table || info->type == ObjectType::kView) {
    if (property == "isindexable") return Flag(true);
    if (property == "isindexed") return Flag(!info->indexes.empty());
  }
  if (table) {
    auto any_index = [&](auto predicate) {
      for (const IndexInfo& index : info->indexes)
        if (predicate(index)) return true;
      return false;
    };
    auto any_column = [&](auto predicate) {
      for (const ColumnInfo& column : info->columns)
        if (predicate(column)) return true;
      return false;
    };
    if (property == "tablehasidentity") return Flag(info->IdentityColumn() != nullptr);
    if (property == "tablehasprimarykey") return Flag(info->PrimaryKey() != nullptr);
    if (property == "tablehasindex") return Flag(!info->indexes.empty());
    if (property == "tablehasclustindex")
      return Flag(any_index([](const IndexInfo& i) { return i.clustered; }));
    if (property == "tablehasnonclustindex")
      return Flag(any_index([](const IndexInfo& i) { return !i.clustered; }));
    if (property == "tablehasuniquecnst")
      return Flag(
          any_index([](const IndexInfo& i) { return i.kind == IndexKind::kUniqueConstraint; }));
    if (property == "tablehasdefaultcnst")
      return Flag(any_column([](const ColumnInfo& c) { return !c.default_text.empty(); }));
    if (property == "tablehastextimage")
      return Flag(any_column([](const ColumnInfo& c) { return c.type.IsLarge(); }));
    if (property == "tablehastimestamp")
      return Flag(
          any_column([](const ColumnInfo& c) { return c.type.kind == TypeKind::kTimestamp; }));
    if (property == "tablehascheckcnst")
      return Flag(HasConstraint(session, *info, ObjectType::kCheck));
    if (property == "tablehasforeignkey")
      return Flag(HasConstraint(session, *info, ObjectType::kForeignKey));
    if (property == "tablehasrowguidcol") return Flag(false);
    if (property == "tablehasinserttrigger" || property == "tablehasupdatetrigger" ||
        property == "tablehasdeletetrigger") {
      const char action = property[8];  // 'i', 'u' or 'd'
      bool any = false;
      for (const ObjectInfo* o : session.Current().catalog->Objects()) {
        if (o->type != ObjectType::kTrigger || o->parent != info->id) continue;
        auto facts = FactsOfTrigger(session, session.Current(), *o);
        any = any || (action == 'i' ? facts->insert : action == 'u' ? facts->update : facts->del);
      }
      return Flag(any);
    }
  }
  if (auto fulltext = FullTextObjectProperty(session, session.Current(), *info, property))
    return *fulltext;
  return Value();
}

Value ColumnPropertyFunction(SessionImpl& session, const Args& args) {
  const ObjectInfo* info = FindById(session, args, 0);
  if (!info) return Value();
  const ColumnInfo* c = info->FindColumn(TextOf(args, 1));
  if (!c) return Value();
  const std::string property = Lower(TextOf(args, 2));
  // Procedure parameters answer only what a parameter has.
  if (info->type == ObjectType::kProcedure) {
    if (property == "isoutparam") return Flag(c->output);
    if (property == "precision") return OptionalInt(c->type.Precision());
    if (property == "scale") return OptionalInt(Scale(c->type));
    return Value();
  }
  if (property == "allowsnull") return Flag(c->nullable);
  if (property == "isidentity") return Flag(c->identity);
  if (property == "iscomputed" || property == "isrowguidcol" || property == "isidnotforrepl" ||
      property == "iscursortype" || property == "isoutparam")
    return Flag(false);
  if (property == "isfulltextindexed") {
    auto indexed =
        FullTextObjectProperty(session, session.Current(), *info, "tablehasactivefulltextindex");
    return Flag(indexed && indexed->ToInt().value_or(0) != 0 && c->type.IsCharacter());
  }
  if (property == "precision") return OptionalInt(c->type.Precision());
  if (property == "scale") return OptionalInt(Scale(c->type));
  if (property == "usesansitrim") return Flag(true);
  if (property == "isprecise")
    return Flag(c->type.kind != TypeKind::kFloat && c->type.kind != TypeKind::kReal);
  // IsDeterministic and IsIndexable are of computed columns only.
  return Value();
}

Value IndexPropertyFunction(SessionImpl& session, const Args& args) {
  const ObjectInfo* info = FindById(session, args, 0);
  if (!info) return Value();
  const IndexInfo* index = info->FindIndex(TextOf(args, 1));
  if (!index) return Value();
  const std::string property = Lower(TextOf(args, 2));
  if (property == "isclustered") return Flag(index->clustered);
  if (property == "isunique") return Flag(index->unique());
  if (property == "indexdepth") return Value(1);
  if (property == "indexfillfactor") return Value(0);
  if (property == "isautostatistics" || property == "isstatistics" ||
      property == "ishypothetical" || property == "ispadindex" ||
      property == "ispagelockdisallowed" || property == "isrowlockdisallowed" ||
      property == "isfulltextkey")
    return Flag(false);
  return Value();
}

// The current database's files, as sysfiles lists them.
struct FileRow {
  int fileid = 0;
  std::string name;
  std::string filename;
  bool log = false;
};

std::vector<FileRow> Files(SessionImpl& session) {
  std::vector<FileRow> out;
  Statement rows = session.connection().Prepare(
      "SELECT fileid, name, filename, is_log FROM " +
      session.Current().catalog->Table(catalog_tables::kFiles) + " ORDER BY fileid");
  while (rows.Step())
    out.push_back({static_cast<int>(rows.ColumnInt(0)), rows.ColumnText(1), rows.ColumnText(2),
                   rows.ColumnInt(3) != 0});
  return out;
}

Value FileName(SessionImpl& session, const Args& args) {
  auto id = IntOf(args, 0);
  if (!id) return Value();
  for (const FileRow& f : Files(session))
    if (f.fileid == *id) return Value(f.name);
  return Value();
}

Value FileId(SessionImpl& session, const Args& args) {
  for (const FileRow& f : Files(session))
    if (EqualsNoCase(f.name, TextOf(args, 0))) return Value(f.fileid);
  return Value();
}

Value FileProperty(SessionImpl& session, const Args& args) {
  const std::string property = Lower(TextOf(args, 1));
  for (const FileRow& f : Files(session)) {
    if (!EqualsNoCase(f.name, TextOf(args, 0))) continue;
    if (property == "isreadonly") return Flag(false);
    if (property == "isprimaryfile") return Flag(f.fileid == 1);
    if (property == "islogfile") return Flag(f.log);
    if (property == "spaceused") {
      // Pages of 8 KB the file takes on its drive.
      auto host = session.instance().machine().ToHost(f.filename);
      std::error_code ec;
      auto size = host ? std::filesystem::file_size(*host, ec) : 0;
      return Value(static_cast<long long>(ec ? 0 : (size + 8191) / 8192));
    }
    return Value();
  }
  return Value();
}

// Every database has one filegroup, PRIMARY; logs belong to none.
Value FileGroupName(SessionImpl&, const Args& args) {
  return IntOf(args, 0) == 1 ? Value("PRIMARY") : Value();
}

Value FileGroupId(SessionImpl&, const Args& args) {
  return EqualsNoCase(TextOf(args, 0), "PRIMARY") ? Value(1) : Value();
}

struct Entry {
  const char* name;
  Value (*compute)(SessionImpl&, const Args&);
};

const Entry kFunctions[] = {
    {"OBJECT_ID", ObjectId},
    {"OBJECT_NAME", ObjectName},
    {"OBJECTPROPERTY", ObjectPropertyFunction},
    {"COL_LENGTH", ColLength},
    {"COL_NAME", ColName},
    {"COLUMNPROPERTY", ColumnPropertyFunction},
    {"INDEXPROPERTY", IndexPropertyFunction},
    {"IDENT_CURRENT", Ident<0>},
    {"IDENT_SEED", Ident<1>},
    {"IDENT_INCR", Ident<2>},
    {"FILE_NAME", FileName},
    {"FILE_ID", FileId},
    {"FILEPROPERTY", FileProperty},
    {"FILEGROUP_NAME", FileGroupName},
    {"FILEGROUP_ID", FileGroupId},
};

}  // namespace

std::optional<Value> ObjectFunction(SessionImpl& session, std::string_view name, const Args& args) {
  for (const Entry& e : kFunctions)
    if (name == e.name) return e.compute(session, args);
  return std::nullopt;
}

std::optional<std::vector<std::string>> ParseObjectName(std::string_view text) {
  std::vector<std::string> parts(1);
  bool quoted_part = false;  // the part so far was delimited: only a dot may follow
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if ((c == '[' || c == '"') && parts.back().empty() && !quoted_part) {
      char close = c == '[' ? ']' : '"';
      std::string part;
      size_t j = i + 1;
      for (; j < text.size(); ++j) {
        if (text[j] == close) {
          if (j + 1 < text.size() && text[j + 1] == close) {
            part += close;
            ++j;
            continue;
          }
          break;
        }
        part += text[j];
      }
      if (j >= text.size()) return std::nullopt;  // no closing delimiter
      parts.back() = part;
      quoted_part = true;
      i = j;
    } else if (c == '.') {
      parts.emplace_back();
      quoted_part = false;
      if (parts.size() > 4) return std::nullopt;
    } else {
      if (quoted_part) return std::nullopt;
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace sandbox
