// plans list|show|add|edit|remove|export|import over the plan file. Every
// save is one change on a fresh load of the file by the plan's ID
// (SavePlan, DeletePlan), so the run fields the service wrote meanwhile
// survive.
#include "cli/CliCommands.h"
#include "cli/CliPlanChecks.h"
#include "cli/CliPlanFields.h"
#include "foundation/Format.h"
#include "foundation/TextFile.h"
#include "foundation/TextUtil.h"
#include "platform/file_io.h"


namespace calvora::cli {
namespace {

struct TFieldAlias {
  const char* Option;
  const char* Field;
};
constexpr TFieldAlias kFieldAliases[] = {
    {"type", "BackupType"}, {"database", "DatabaseName"}, {"drive-folder", "DriveSubFolder"}};

// Every field as "--kebab-name", the aliases, --set, and the password.
std::vector<TOptionSpec> PlanFieldOptions() {
  std::vector<TOptionSpec> options;
  for (const TPlanField& field : EditablePlanFields())
    options.push_back({FieldOptionName(field.Name),
                       field.Kind == TFieldKind::Bool ? TOptionKind::Switch : TOptionKind::Value});
  for (const TFieldAlias& alias : kFieldAliases) options.push_back({alias.Option, TOptionKind::Value});
  options.push_back({"set", TOptionKind::Value, true});
  options.push_back({"rar-password", TOptionKind::Flag});
  options.push_back({"rar-password-stdin", TOptionKind::Flag});
  return options;
}

const TPlanField* FieldForOption(const std::string& Option) {
  for (const TFieldAlias& alias : kFieldAliases)
    if (Option == alias.Option) return FindPlanField(alias.Field);
  for (const TPlanField& field : EditablePlanFields())
    if (FieldOptionName(field.Name) == Option) return &field;
  return nullptr;
}

// The field options and --set assignments in the order given, then the
// password, then what the editor keeps by type.
void ApplyFieldOptions(TCliContext& Context, const TCliArgs& Args, TBackupPlan& Plan) {
  for (const auto& [option, value] : Args.Ordered()) {
    if (option == "set") {
      ApplyAssignment(Plan, value);
    } else if (const TPlanField* field = FieldForOption(option)) {
      SetPlanField(Plan, *field, value);
    }
  }
  if (Args.Has("rar-password") || Args.Has("rar-password-stdin"))
    Plan.RarPassword = ReadSecret(Context, Args, "rar-password-stdin", "RAR Sıfresi: ");
  ApplyPlanTypeRules(Plan);
}

void CheckOrFail(const TBackupPlan& Plan) {
  std::string message;
  if (!CheckPlanForSave(Plan, message)) throw ECliError(message);
}

TJson ReadJsonFile(TCliContext& Context, const std::string& Path) {
  const std::string text = Path == "-" ? Context.Console.ReadAllInput() : ReadTextFile(Path);
  TJson value;
  if (!TryParseJson(text, value)) throw ECliError("Gecerli bir JSON dosyasi degil: " + Path);
  return value;
}

void PrintSaved(TCliContext& Context, const TBackupPlan& Plan, const std::string& Message) {
  if (Context.Json)
    PrintJson(Context, TJson{{"ID", Plan.ID}, {"Name", Plan.Name}, {"Message", Message}});
  else
    PrintLine(Context, Message + ": " + Plan.Name + " " + Plan.ID);
}

}  // namespace

int PlansListCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 0, 0, "plans list");
  const std::vector<TBackupPlan> plans = TBackupPlanStore(Context.Env()).LoadPlans();
  if (Context.Json) {
    TJson list = TJson::array();
    for (const TBackupPlan& plan : plans) list.push_back(PlanExportJson(plan, true));
    PrintJson(Context, list);
    return kExitSuccess;
  }
  if (plans.empty()) {
    PrintLine(Context, "Kayitli plan yok.");
    return kExitSuccess;
  }
  std::vector<std::vector<std::string>> rows;
  for (const TBackupPlan& plan : plans)
    rows.push_back({plan.ID, plan.Name, BackupTypeDisplayName(plan), PlanScheduleText(plan),
                    plan.Enabled ? "Etkin" : "Pasif", plan.LastStatus.empty() ? "-" : plan.LastStatus});
  PrintTable(Context, {"ID", "Plan", "Tur", "Zamanlama", "Durum", "Son Sonuc"}, rows);
  return kExitSuccess;
}

int PlansShowCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 1, 1, "plans show PLAN");
  const TBackupPlan plan = FindPlan(Context.Env(), args.Positional()[0]);
  if (Context.Json) {
    TJson object = PlanExportJson(plan, true);
    object["HasRarPassword"] = !plan.RarPassword.empty();
    PrintJson(Context, object);
  } else {
    PrintFields(Context, PlanFieldRows(plan));
  }
  return kExitSuccess;
}

int PlansAddCommand(TCliContext& Context, const TWords& Words) {
  std::vector<TOptionSpec> options = PlanFieldOptions();
  options.push_back({"from-json", TOptionKind::Value});
  const TCliArgs args = ParseCommand(Context, Words, options);
  RequirePositional(args, 0, 0, "plans add [--ALAN DEGER...] [--set ALAN=DEGER...] [--from-json DOSYA]");
  TEnv& env = Context.Env();
  TBackupPlanStore store(env);
  TBackupPlan plan = NewCliPlan();
  if (args.Has("from-json")) {
    const TJson object = ReadJsonFile(Context, args.Value("from-json"));
    if (!object.is_object()) throw ECliError("--from-json tek bir plan nesnesi bekler.");
    plan = store.PlanFromJson(object);
    CopyPlanRunFields(TBackupPlan(), plan);  // a new plan has not run
  }
  ApplyFieldOptions(Context, args, plan);
  plan.ID = TBackupPlanStore::GeneratePlanID();
  CheckOrFail(plan);
  store.SavePlan(plan);
  PrintSaved(Context, plan, "Plan eklendi");
  return kExitSuccess;
}

int PlansEditCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, PlanFieldOptions());
  RequirePositional(args, 1, 1, "plans edit PLAN --set ALAN=DEGER...");
  if (args.Ordered().empty() || (args.Ordered().size() == 1 && args.Has("json")))
    throw EUsageError("Degistirilecek alan verilmedi (--set ALAN=DEGER).");
  TEnv& env = Context.Env();
  TBackupPlan plan = FindPlan(env, args.Positional()[0]);
  ApplyFieldOptions(Context, args, plan);
  CheckOrFail(plan);
  TBackupPlanStore(env).SavePlan(plan);
  PrintSaved(Context, plan, "Plan kaydedildi");
  return kExitSuccess;
}

int PlansRemoveCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 1, 1, "plans remove PLAN");
  TEnv& env = Context.Env();
  const TBackupPlan plan = FindPlan(env, args.Positional()[0]);
  if (!TBackupPlanStore(env).DeletePlan(plan.ID)) throw ECliError("Plan bulunamadı: " + args.Positional()[0]);
  PrintSaved(Context, plan, "Plan silindi");
  return kExitSuccess;
}

int PlansExportCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {{"to", TOptionKind::Value}});
  const std::vector<TBackupPlan> plans = TBackupPlanStore(Context.Env()).LoadPlans();
  TJson list = TJson::array();
  if (args.Positional().empty()) {
    for (const TBackupPlan& plan : plans) list.push_back(PlanExportJson(plan, false));
  } else {
    for (const std::string& reference : args.Positional()) list.push_back(PlanExportJson(FindPlan(plans, reference), false));
  }
  const std::string text = JsonToText(list) + "\n";
  if (!args.Has("to")) {
    Context.Console.Out(text);
    return kExitSuccess;
  }
  const std::string path = args.Value("to");
  // Never over an existing file, never through a link someone left there.
  if (!platform::CreateNewFile(path, text, 0600))
    throw ECliError("Dosya zaten var ya da olusturulamadi: " + path);
  if (!Context.Json) PrintLine(Context, Fmt("%d plan disa aktarildi: %s", static_cast<int>(list.size()), path));
  return kExitSuccess;
}

int PlansImportCommand(TCliContext& Context, const TWords& Words) {
  const TCliArgs args = ParseCommand(Context, Words, {});
  RequirePositional(args, 1, 1, "plans import DOSYA|-");
  TEnv& env = Context.Env();
  TBackupPlanStore store(env);
  TJson value = ReadJsonFile(Context, args.Positional()[0]);
  if (value.is_object()) value = TJson::array({value});
  if (!value.is_array()) throw ECliError("Plan listesi (JSON dizisi) bekleniyor.");

  // Every plan is checked before the first is saved: all or nothing.
  const std::vector<TBackupPlan> existing = store.LoadPlans();
  std::vector<TBackupPlan> incoming;
  for (size_t i = 0; i < value.size(); ++i) {
    if (!value[i].is_object()) throw ECliError(Fmt("Plan %d bir JSON nesnesi degil.", static_cast<int>(i + 1)));
    TBackupPlan plan = store.PlanFromJson(value[i]);
    // Run fields come only from runs on this machine; a stored plan keeps
    // its own (SavePlan).
    CopyPlanRunFields(TBackupPlan(), plan);
    if (IsBlank(plan.ID)) plan.ID = TBackupPlanStore::GeneratePlanID();
    // An export carries no archive password: a plan coming back keeps the
    // one stored with it.
    for (const TBackupPlan& old : existing)
      if (plan.RarPassword.empty() && SameText(old.ID, plan.ID)) plan.RarPassword = old.RarPassword;
    ApplyPlanTypeRules(plan);
    std::string message;
    if (!CheckPlanForSave(plan, message))
      throw ECliError(Fmt("Plan %d (%s): %s", static_cast<int>(i + 1), plan.Name, message));
    incoming.push_back(plan);
  }
  int added = 0, replaced = 0;
  for (const TBackupPlan& plan : incoming) {
    bool known = false;
    for (const TBackupPlan& old : existing) known |= SameText(old.ID, plan.ID);
    store.SavePlan(plan);
    ++(known ? replaced : added);
  }
  const std::string message = Fmt("%d plan eklendi, %d plan guncellendi.", added, replaced);
  if (Context.Json)
    PrintJson(Context, TJson{{"Added", added}, {"Replaced", replaced}, {"Message", message}});
  else
    PrintLine(Context, message);
  return kExitSuccess;
}

}  // namespace calvora::cli
