#include "cli/CliCommon.h"

#include "foundation/Format.h"
#include "foundation/TextUtil.h"

#include <algorithm>

namespace calvora::cli {

std::vector<TOptionSpec> WithCommonOptions(std::vector<TOptionSpec> Options) {
  Options.push_back({"json", TOptionKind::Flag});
  return Options;
}

TCliArgs ParseCommand(TCliContext& Context, const std::vector<std::string>& Words,
                      const std::vector<TOptionSpec>& Options) {
  TCliArgs args = TCliArgs::Parse(Words, WithCommonOptions(Options));
  if (args.Has("json")) Context.Json = true;
  return args;
}

void RequirePositional(const TCliArgs& Args, size_t Min, size_t Max, const std::string& Usage) {
  const size_t n = Args.Positional().size();
  if (n < Min || n > Max) throw EUsageError("Kullanim: " + std::string(kProgramName) + " " + Usage);
}

namespace {

std::string BareID(const std::string& Text) {
  std::string id = Trim(Text);
  if (id.size() >= 2 && id.front() == '{' && id.back() == '}') id = id.substr(1, id.size() - 2);
  return id;
}

}  // namespace

TBackupPlan FindPlan(const std::vector<TBackupPlan>& Plans, const std::string& Reference) {
  const std::string wanted = Trim(Reference);
  if (!wanted.empty()) {
    for (const TBackupPlan& plan : Plans)
      if (!IsBlank(plan.ID) && SameText(BareID(plan.ID), BareID(wanted))) return plan;
    std::vector<const TBackupPlan*> named;
    for (const TBackupPlan& plan : Plans)
      if (SameText(Trim(plan.Name), wanted)) named.push_back(&plan);
    if (named.size() == 1) return *named.front();
    if (named.size() > 1) throw ECliError("Bu adi tasiyan birden cok plan var, plan ID'sini kullanin: " + wanted);
  }
  throw ECliError("Plan bulunamadı: " + wanted);
}

TBackupPlan FindPlan(TEnv& Env, const std::string& Reference) {
  return FindPlan(TBackupPlanStore(Env).LoadPlans(), Reference);
}

std::string ReadSecret(TCliContext& Context, const TCliArgs& Args, const std::string& StdinOption,
                       const std::string& Prompt) {
  std::string secret;
  if (Args.Has(StdinOption)) {
    std::string text = Context.Console.ReadAllInput();
    const size_t end = text.find('\n');
    secret = text.substr(0, end);
    if (!secret.empty() && secret.back() == '\r') secret.pop_back();
    return secret;
  }
  if (!Context.Console.ReadSecret(Prompt, secret))
    throw ECliError("Sifre sorulacak bir terminal yok; --" + StdinOption + " ile standart girdiden verin.");
  return secret;
}

void PrintLine(TCliContext& Context, const std::string& Text) { Context.Console.Out(Text + "\n"); }

void PrintJson(TCliContext& Context, const TJson& Value) { Context.Console.Out(JsonToText(Value) + "\n"); }

size_t TextWidth(const std::string& Text) {
  size_t width = 0;
  for (unsigned char c : Text)
    if ((c & 0xC0) != 0x80) ++width;
  return width;
}

namespace {

std::string PadRight(const std::string& Text, size_t Width) {
  const size_t width = TextWidth(Text);
  return width >= Width ? Text : Text + std::string(Width - width, ' ');
}

}  // namespace

void PrintTable(TCliContext& Context, const std::vector<std::string>& Headers,
                const std::vector<std::vector<std::string>>& Rows) {
  std::vector<size_t> widths(Headers.size(), 0);
  for (size_t c = 0; c < Headers.size(); ++c) widths[c] = TextWidth(Headers[c]);
  for (const auto& row : Rows)
    for (size_t c = 0; c < row.size() && c < widths.size(); ++c) widths[c] = std::max(widths[c], TextWidth(row[c]));
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t c = 0; c < cells.size() && c < widths.size(); ++c)
      text += c + 1 == cells.size() ? cells[c] : PadRight(cells[c], widths[c]) + "  ";
    PrintLine(Context, TrimRight(text));
  };
  line(Headers);
  for (const auto& row : Rows) line(row);
}

void PrintFields(TCliContext& Context, const std::vector<std::pair<std::string, std::string>>& Rows) {
  size_t width = 0;
  for (const auto& row : Rows) width = std::max(width, TextWidth(row.first));
  for (const auto& [name, value] : Rows) PrintLine(Context, PadRight(name + ":", width + 1) + " " + value);
}

std::string CloudSizeText(std::int64_t Bytes) {
  constexpr double kKB = 1024.0;
  if (Bytes >= (std::int64_t{1} << 30)) return Fmt("%.1f GB", static_cast<double>(Bytes) / (kKB * kKB * kKB));
  if (Bytes >= (std::int64_t{1} << 20)) return Fmt("%.1f MB", static_cast<double>(Bytes) / (kKB * kKB));
  if (Bytes < 1024) return std::to_string(Bytes) + " B";
  return Fmt("%.1f KB", static_cast<double>(Bytes) / kKB);
}

bool ParseBoolText(const std::string& Text, bool& Value) {
  const std::string t = LowerAscii(Trim(Text));
  if (t == "true" || t == "yes" || t == "1" || t == "on" || t == "evet") {
    Value = true;
    return true;
  }
  if (t == "false" || t == "no" || t == "0" || t == "off" || t == "hayir") {
    Value = false;
    return true;
  }
  return false;
}

std::string BoolText(bool Value) { return Value ? "true" : "false"; }

}  // namespace calvora::cli
