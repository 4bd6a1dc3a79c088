// Parsing the acpi-meta description, one statement per line.
#include "tools/acpi-meta/MetaDescription.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <sstream>

#include "sim/VarStoreImage.h"

namespace acpi_meta {
namespace {

// One line split into words and key=value options.
struct Words {
  std::vector<std::string> Plain;
  std::map<std::string, std::string> Options;
};

Words Split(const std::string &Line) {
  Words Out;
  std::istringstream In(Line.substr(0, Line.find('#')));
  std::string Word;
  while (In >> Word) {
    size_t Equal = Word.find('=');
    if (Equal == std::string::npos) {
      Out.Plain.push_back(Word);
    } else {
      Out.Options[Word.substr(0, Equal)] = Word.substr(Equal + 1);
    }
  }
  return Out;
}

class LineParser {
 public:
  LineParser(int Line, Words W, std::string *Error) : mLine(Line), mWords(std::move(W)), mError(Error) {}

  bool Fail(const std::string &Why) {
    *mError = "line " + std::to_string(mLine) + ": " + Why;
    return false;
  }

  bool Parse(Description *Out);

 private:
  bool Target(const std::string &Text, TableTarget *Target);
  bool TableStatement(Statement *S);
  bool ElementStatement(StatementKind Kind, Statement *S);
  bool IntegerStatement(Statement *S);
  bool Field(const char *Name, Type2Field *Field);
  bool Rank(UINT16 *Rank);
  bool Arity(size_t Plain, const std::vector<std::string> &Allowed);

  int mLine;
  Words mWords;
  std::string *mError;
};

bool SignatureOf(const std::string &Text, UINT32 *Signature) {
  if (Text.size() != 4) return false;
  *Signature = 0;
  for (int Index = 3; Index >= 0; Index--) *Signature = (*Signature << 8) | static_cast<UINT8>(Text[Index]);
  return true;
}

// An OemTableId is up to 8 characters, padded with spaces as iasl pads it.
bool OemTableIdOf(const std::string &Text, UINT64 *Id) {
  if (Text.empty() || Text.size() > 8) return false;
  std::string Padded = Text + std::string(8 - Text.size(), ' ');
  *Id = 0;
  for (int Index = 7; Index >= 0; Index--) *Id = (*Id << 8) | static_cast<UINT8>(Padded[Index]);
  return true;
}

bool LineParser::Target(const std::string &Text, TableTarget *Target) {
  size_t Colon = Text.find(':');
  if (!SignatureOf(Text.substr(0, Colon), &Target->Signature)) {
    return Fail("'" + Text + "' is not a table (a 4-character signature, SSDT:<OemTableId> for an SSDT)");
  }
  if (Colon != std::string::npos) {
    Target->HasOemTableId = true;
    if (!OemTableIdOf(Text.substr(Colon + 1), &Target->OemTableId)) {
      return Fail("'" + Text.substr(Colon + 1) + "' is not an OemTableId of 1 to 8 characters");
    }
  }
  if (Target->Signature == SIGNATURE_32('S', 'S', 'D', 'T') && !Target->HasOemTableId) {
    return Fail("an SSDT is named by its OemTableId: write SSDT:<OemTableId>");
  }
  return true;
}

bool LineParser::Arity(size_t Plain, const std::vector<std::string> &Allowed) {
  if (mWords.Plain.size() != Plain) {
    return Fail("'" + mWords.Plain[0] + "' takes " + std::to_string(Plain - 1) + " words, found " +
                std::to_string(mWords.Plain.size() - 1));
  }
  for (const auto &Option : mWords.Options) {
    bool Known = false;
    for (const std::string &Name : Allowed) Known = Known || Name == Option.first;
    if (!Known) return Fail("'" + mWords.Plain[0] + "' has no option '" + Option.first + "'");
  }
  return true;
}

bool LineParser::Rank(UINT16 *Rank) {
  static const std::map<std::string, UINT16> kPhases = {
      {"entry", 0x1000}, {"end-of-dxe", 0x2000}, {"ready-to-boot", 0x3000}, {"exit-boot-services", 0x4000}};
  auto Option = mWords.Options.find("rank");
  if (Option == mWords.Options.end()) return true;
  auto Phase = kPhases.find(Option->second);
  UINT64 Value = 0;
  if (Phase != kPhases.end()) {
    Value = Phase->second;
  } else if (!ParseNumber(Option->second, 0xFFFF, &Value)) {
    return Fail("rank '" + Option->second +
                "' is neither a phase (entry, end-of-dxe, ready-to-boot, "
                "exit-boot-services) nor a 16-bit number");
  }
  *Rank = static_cast<UINT16>(Value);
  return true;
}

bool LineParser::TableStatement(Statement *S) {
  static const std::map<std::string, UINT32> kHow = {
      {"stored", 1}, {"not-stored", 2}, {"table", 3}, {"from-fv", 4}};
  if (!Arity(3, {"file", "rank", "aml"}) || !Target(mWords.Plain[1], &S->Target) || !Rank(&S->Rank))
    return false;
  auto How = kHow.find(mWords.Plain[2]);
  if (How == kHow.end())
    return Fail("'" + mWords.Plain[2] + "' is not one of stored, not-stored, table, from-fv");
  S->SubType = How->second;
  if (mWords.Options.count("file")) {
    if (!ParseGuid(mWords.Options["file"], &S->File)) return Fail("file= needs a GUID in registry format");
    S->HasFile = true;
  }
  if (S->SubType == 4 && !S->HasFile) return Fail("from-fv needs file=<GUID> of the firmware-volume file");
  if (S->SubType != 4 && S->HasFile) return Fail("file= belongs to from-fv only");
  if (mWords.Options.count("aml")) S->TablePath = mWords.Options["aml"];
  if (S->SubType != 3 && !S->TablePath.empty()) return Fail("aml= belongs to 'table' only");
  return true;
}

bool LineParser::Field(const char *Name, Type2Field *Field) {
  auto Option = mWords.Options.find(Name);
  if (Option == mWords.Options.end()) return Fail(std::string("missing ") + Name + "=<mode>,<size>,<offset>");
  std::vector<std::string> Parts;
  std::istringstream In(Option->second);
  std::string Part;
  while (std::getline(In, Part, ',')) Parts.push_back(Part);
  UINT64 Mode = 0, Size = 0, Offset = 0;
  if (Parts.size() != 3 || !ParseNumber(Parts[0], 3, &Mode) || Mode == 0 ||
      !ParseNumber(Parts[1], 4, &Size) || Size == 0 ||
      !ParseNumber(Parts[2], std::string(Name) == "length" ? 0xFFFFFFFF : MAX_UINT64, &Offset)) {
    return Fail(std::string(Name) + "= needs <mode 1..3>,<size indicator 1..4>,<offset>");
  }
  *Field = {static_cast<UINT8>(Mode), static_cast<UINT8>(Size), Offset};
  return true;
}

bool LineParser::ElementStatement(StatementKind Kind, Statement *S) {
  S->Kind = Kind;
  bool TwoPaths = Kind == StatementKind::NvsType1;
  bool Type2 = Kind == StatementKind::NvsType2 || Kind == StatementKind::NonNvsType2;
  if (!Arity(TwoPaths ? 4 : 3,
             Type2 ? std::vector<std::string>{"address", "length"} : std::vector<std::string>{})) {
    return false;
  }
  if (!Target(mWords.Plain[1], &S->Target)) return false;
  S->Path = mWords.Plain[2];
  if (TwoPaths) S->LengthPath = mWords.Plain[3];
  if (Type2 && (!Field("address", &S->Address) || !Field("length", &S->Length))) return false;
  return true;
}

bool LineParser::IntegerStatement(Statement *S) {
  S->Kind = StatementKind::Integer;
  if (!Arity(4, {"default", "name", "guid", "attributes"}) || !Target(mWords.Plain[1], &S->Target))
    return false;
  S->Path = mWords.Plain[2];
  static const std::map<std::string, UINT32> kTypes = {
      {"stored", 1}, {"not-stored", 2}, {"default", 3}, {"variable", 4}};
  auto Type = kTypes.find(mWords.Plain[3]);
  if (Type == kTypes.end())
    return Fail("'" + mWords.Plain[3] + "' is not one of stored, not-stored, default, variable");
  S->IntegerType = Type->second;
  if (mWords.Options.count("default") && !ParseNumber(mWords.Options["default"], MAX_UINT64, &S->Default)) {
    return Fail("default= needs a number");
  }
  if (S->IntegerType != 4) {
    if (mWords.Options.count("name") || mWords.Options.count("guid") || mWords.Options.count("attributes")) {
      return Fail("name=, guid= and attributes= belong to 'variable' only");
    }
    return true;
  }
  std::string Name = mWords.Options["name"];
  if (Name.empty() || Name.size() > 15) return Fail("variable needs name=<1 to 15 characters>");
  S->VariableName.assign(Name.begin(), Name.end());
  if (!ParseGuid(mWords.Options["guid"], &S->VariableGuid))
    return Fail("variable needs guid=<registry GUID>");
  UINT64 Attributes = 0;
  if (mWords.Options.count("attributes") &&
      !ParseNumber(mWords.Options["attributes"], 0xFFFFFFFF, &Attributes)) {
    return Fail("attributes= needs a 32-bit number");
  }
  S->VariableAttributes = static_cast<UINT32>(Attributes);
  return true;
}

bool LineParser::Parse(Description *Out) {
  if (mWords.Plain.empty()) return mWords.Options.empty() || Fail("a line cannot start with an option");
  const std::string &Verb = mWords.Plain[0];
  if (Verb == "aml") {
    if (!Arity(2, {})) return false;
    Out->AmlFiles.push_back({mLine, mWords.Plain[1]});
    return true;
  }
  Statement S;
  S.Line = mLine;
  bool Ok = false;
  if (Verb == "table") {
    Ok = TableStatement(&S);
  } else if (Verb == "nvs") {
    Ok = ElementStatement(StatementKind::Nvs, &S);
  } else if (Verb == "nvs-type1") {
    Ok = ElementStatement(StatementKind::NvsType1, &S);
  } else if (Verb == "nvs-type2") {
    Ok = ElementStatement(StatementKind::NvsType2, &S);
  } else if (Verb == "non-nvs-type2") {
    Ok = ElementStatement(StatementKind::NonNvsType2, &S);
  } else if (Verb == "integer") {
    Ok = IntegerStatement(&S);
  } else {
    return Fail("unknown statement '" + Verb +
                "' (aml, table, nvs, nvs-type1, nvs-type2, non-nvs-type2, integer)");
  }
  if (Ok) Out->Statements.push_back(S);
  return Ok;
}

}  // namespace

bool ParseNumber(const std::string &Text, UINT64 Max, UINT64 *Value) {
  if (Text.empty() || Text[0] == '-' || Text[0] == '+') return false;
  char *End = nullptr;
  errno = 0;
  unsigned long long Parsed = std::strtoull(Text.c_str(), &End, 0);
  if (errno != 0 || *End != '\0' || Parsed > Max) return false;
  *Value = Parsed;
  return true;
}

bool ParseGuid(const std::string &Text, EFI_GUID *Guid) {
  return sim::ParseGuidText(Text, Guid);
}

bool ParseDescription(const std::string &Text, Description *Out, std::string *Error) {
  std::istringstream In(Text);
  std::string Line;
  for (int Number = 1; std::getline(In, Line); Number++) {
    LineParser Parser(Number, Split(Line), Error);
    if (!Parser.Parse(Out)) return false;
  }
  return true;
}

}  // namespace acpi_meta
