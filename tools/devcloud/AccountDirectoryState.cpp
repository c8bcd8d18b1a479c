#include "AccountDirectoryState.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace calvora::devcloud {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(path);
  while (std::getline(in, part, '/'))
    if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string RandomHex(size_t bytes) {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes; ++i) {
    const auto b = static_cast<unsigned>(rng() & 0xFF);
    out += digits[b >> 4];
    out += digits[b & 0xF];
  }
  return out;
}

// The database keeps no nulls and no empty objects.
DatabaseJson Cleaned(const DatabaseJson& value) {
  if (value.is_object()) {
    DatabaseJson out = DatabaseJson::object();
    for (auto it = value.begin(); it != value.end(); ++it) {
      DatabaseJson child = Cleaned(it.value());
      if (!child.is_null()) out[it.key()] = std::move(child);
    }
    return out.empty() ? DatabaseJson() : out;
  }
  if (value.is_array()) {
    DatabaseJson out = DatabaseJson::array();
    for (const auto& element : value) out.push_back(Cleaned(element));
    return out.empty() ? DatabaseJson() : out;
  }
  return value;
}

bool ArrayIndex(const DatabaseJson& node, const std::string& segment, size_t& index) {
  if (!node.is_array() || segment.empty() || segment.size() > 9 ||
      !std::all_of(segment.begin(), segment.end(), [](unsigned char c) { return std::isdigit(c); }))
    return false;
  index = static_cast<size_t>(std::stoul(segment));
  return index < node.size();
}

const DatabaseJson* Child(const DatabaseJson& node, const std::string& segment) {
  if (node.is_object()) {
    auto it = node.find(segment);
    return it == node.end() ? nullptr : &*it;
  }
  size_t index = 0;
  return ArrayIndex(node, segment, index) ? &node[index] : nullptr;
}

// Arrays become objects keyed by index once something is written into them.
void MakeObject(DatabaseJson& node) {
  if (node.is_object()) return;
  DatabaseJson object = DatabaseJson::object();
  if (node.is_array())
    for (size_t i = 0; i < node.size(); ++i)
      if (!node[i].is_null()) object[std::to_string(i)] = node[i];
  node = std::move(object);
}

// Removes the node at segments[from..]; true when `node` is left empty.
bool RemoveBelow(DatabaseJson& node, const std::vector<std::string>& segments, size_t from) {
  if (from >= segments.size()) return true;
  if (node.is_array()) MakeObject(node);
  if (!node.is_object()) return false;
  auto it = node.find(segments[from]);
  if (it == node.end()) return node.empty();
  if (RemoveBelow(*it, segments, from + 1)) node.erase(segments[from]);
  return node.empty();
}

const char kPushChars[] = "-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";

}  // namespace

AccountDirectoryState::AccountDirectoryState(std::string dataDir) : dir_(std::move(dataDir) + "/account") {
  LoadPersisted();
}

std::string AccountDirectoryState::ApiKey() const {
  std::lock_guard<std::mutex> guard(lock_);
  return apiKey_;
}

void AccountDirectoryState::SetApiKey(const std::string& key) {
  std::lock_guard<std::mutex> guard(lock_);
  apiKey_ = key;
  PersistLocked();
}

std::string AccountDirectoryState::AddUser(const std::string& email, const std::string& password) {
  std::lock_guard<std::mutex> guard(lock_);
  User& user = users_[Lower(email)];
  if (user.localId.empty()) user.localId = RandomHex(14);
  user.email = email;
  user.password = password;
  PersistLocked();
  return user.localId;
}

bool AccountDirectoryState::RemoveUser(const std::string& email) {
  std::lock_guard<std::mutex> guard(lock_);
  const bool removed = users_.erase(Lower(email)) > 0;
  PersistLocked();
  return removed;
}

void AccountDirectoryState::SetUserDisabled(const std::string& email, bool disabled) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = users_.find(Lower(email));
  if (it != users_.end()) it->second.disabled = disabled;
  PersistLocked();
}

bool AccountDirectoryState::HasUser(const std::string& email) const {
  std::lock_guard<std::mutex> guard(lock_);
  return users_.count(Lower(email)) > 0;
}

void AccountDirectoryState::SetTokenLifetimeSeconds(int seconds) {
  std::lock_guard<std::mutex> guard(lock_);
  tokenLifetime_ = seconds;
}

void AccountDirectoryState::RevokeTokens() {
  std::lock_guard<std::mutex> guard(lock_);
  tokens_.clear();
  PersistLocked();
}

int AccountDirectoryState::SignInCount() const {
  std::lock_guard<std::mutex> guard(lock_);
  return signIns_;
}

void AccountDirectoryState::SetRequireAuth(bool required) {
  std::lock_guard<std::mutex> guard(lock_);
  requireAuth_ = required;
}

bool AccountDirectoryState::RequireAuth() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requireAuth_;
}

std::string AccountDirectoryState::IssueTokenLocked(const std::string& localId, std::string& refreshToken,
                                                    int& expiresIn) {
  std::string token = "devcloud." + localId + "." + RandomHex(24);
  refreshToken = "devcloud-refresh." + RandomHex(24);
  expiresIn = tokenLifetime_;
  const auto now = Clock::now();
  std::erase_if(tokens_, [&](const auto& entry) { return entry.second <= now; });
  tokens_[token] = now + std::chrono::seconds(tokenLifetime_);
  PersistLocked();
  return token;
}

AccountDirectoryState::SignInOutcome AccountDirectoryState::SignIn(const std::string& email,
                                                                   const std::string& password,
                                                                   std::string& localId, std::string& idToken,
                                                                   std::string& refreshToken, int& expiresIn) {
  std::lock_guard<std::mutex> guard(lock_);
  ++signIns_;
  auto it = users_.find(Lower(email));
  if (it == users_.end()) return SignInOutcome::EmailNotFound;
  if (it->second.password != password) return SignInOutcome::InvalidPassword;
  if (it->second.disabled) return SignInOutcome::UserDisabled;
  localId = it->second.localId;
  idToken = IssueTokenLocked(localId, refreshToken, expiresIn);
  return SignInOutcome::Ok;
}

AccountDirectoryState::SignInOutcome AccountDirectoryState::SignUp(const std::string& email,
                                                                   const std::string& password,
                                                                   std::string& localId, std::string& idToken,
                                                                   std::string& refreshToken, int& expiresIn) {
  std::lock_guard<std::mutex> guard(lock_);
  if (users_.count(Lower(email)) > 0) return SignInOutcome::EmailExists;
  User& user = users_[Lower(email)];
  user.localId = RandomHex(14);
  user.email = email;
  user.password = password;
  localId = user.localId;
  idToken = IssueTokenLocked(localId, refreshToken, expiresIn);
  return SignInOutcome::Ok;
}

AccountDirectoryState::TokenCheck AccountDirectoryState::CheckToken(const std::string& idToken) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = tokens_.find(idToken);
  if (it == tokens_.end()) return TokenCheck::Missing;
  return Clock::now() < it->second ? TokenCheck::Ok : TokenCheck::Expired;
}

DatabaseJson AccountDirectoryState::Read(const std::string& path) const {
  std::lock_guard<std::mutex> guard(lock_);
  const DatabaseJson* node = &root_;
  for (const auto& segment : Segments(path)) {
    node = Child(*node, segment);
    if (node == nullptr) return DatabaseJson();
  }
  return *node;
}

void AccountDirectoryState::WriteLocked(const std::string& path, const DatabaseJson& value) {
  const std::vector<std::string> segments = Segments(path);
  DatabaseJson cleaned = Cleaned(value);
  if (cleaned.is_null()) {
    if (RemoveBelow(root_, segments, 0)) root_ = DatabaseJson();
    return;
  }
  DatabaseJson* node = &root_;
  for (const auto& segment : segments) {
    MakeObject(*node);
    node = &(*node)[segment];
  }
  *node = std::move(cleaned);
}

void AccountDirectoryState::Write(const std::string& path, const DatabaseJson& value) {
  std::lock_guard<std::mutex> guard(lock_);
  WriteLocked(path, value);
  PersistLocked();
}

void AccountDirectoryState::Merge(const std::string& path, const DatabaseJson& children) {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto it = children.begin(); it != children.end(); ++it) WriteLocked(path + "/" + it.key(), it.value());
  PersistLocked();
}

std::string AccountDirectoryState::Push(const std::string& path, const DatabaseJson& value) {
  std::lock_guard<std::mutex> guard(lock_);
  std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
  pushCounter_ = now == lastPushMs_ ? pushCounter_ + 1 : 0;
  lastPushMs_ = now;
  // Eight characters of time, then a counter: keys sort in creation order.
  std::string key(20, '-');
  for (int i = 7; i >= 0; --i, now /= 64) key[i] = kPushChars[now % 64];
  int counter = pushCounter_;
  for (int i = 19; i >= 8; --i, counter /= 64) key[i] = kPushChars[counter % 64];
  WriteLocked(path + "/" + key, value);
  PersistLocked();
  return key;
}

void AccountDirectoryState::Remove(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  if (RemoveBelow(root_, Segments(path), 0)) root_ = DatabaseJson();
  PersistLocked();
}

bool AccountDirectoryState::LoadSeedFile(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  DatabaseJson seed = DatabaseJson::parse(text.str(), nullptr, false);
  if (seed.is_discarded() || !seed.is_object()) {
    error = path + " is not a JSON object";
    return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (seed.contains("apiKey") && seed["apiKey"].is_string()) apiKey_ = seed["apiKey"].get<std::string>();
  if (seed.contains("users") && seed["users"].is_array()) {
    users_.clear();
    for (const auto& u : seed["users"]) {
      if (!u.is_object() || !u.contains("email")) continue;
      User user;
      user.email = u.value("email", "");
      user.password = u.value("password", "");
      user.disabled = u.value("disabled", false);
      user.localId = RandomHex(14);
      users_[Lower(user.email)] = user;
    }
  }
  if (seed.contains("database")) root_ = Cleaned(seed["database"]);
  PersistLocked();
  return true;
}

void AccountDirectoryState::PersistLocked() const {
  DatabaseJson state = DatabaseJson::object();
  state["apiKey"] = apiKey_;
  state["users"] = DatabaseJson::array();
  for (const auto& [key, user] : users_)
    state["users"].push_back(
        {{"localId", user.localId}, {"email", user.email}, {"password", user.password}, {"disabled", user.disabled}});
  state["tokens"] = DatabaseJson::object();
  for (const auto& [token, expiry] : tokens_)
    state["tokens"][token] = std::chrono::duration_cast<std::chrono::seconds>(expiry.time_since_epoch()).count();
  state["database"] = root_;
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  const std::string file = dir_ + "/state.json", temp = file + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << state.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    if (!out) return;
  }
  std::filesystem::rename(temp, file, ec);
}

void AccountDirectoryState::LoadPersisted() {
  std::ifstream in(dir_ + "/state.json", std::ios::binary);
  if (!in) return;
  std::stringstream text;
  text << in.rdbuf();
  DatabaseJson state = DatabaseJson::parse(text.str(), nullptr, false);
  if (state.is_discarded() || !state.is_object()) return;
  apiKey_ = state.value("apiKey", std::string(kDefaultApiKey));
  if (state.contains("users") && state["users"].is_array()) {
    for (const auto& u : state["users"]) {
      User user;
      user.localId = u.value("localId", RandomHex(14));
      user.email = u.value("email", "");
      user.password = u.value("password", "");
      user.disabled = u.value("disabled", false);
      users_[Lower(user.email)] = user;
    }
  }
  if (state.contains("tokens") && state["tokens"].is_object())
    for (auto it = state["tokens"].begin(); it != state["tokens"].end(); ++it)
      if (it->is_number_integer()) tokens_[it.key()] = Clock::time_point(std::chrono::seconds(it->get<std::int64_t>()));
  if (state.contains("database")) root_ = state["database"];
}

}  // namespace calvora::devcloud
