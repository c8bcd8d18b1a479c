#include "DriveQuery.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace calvora::devcloud {
namespace {

struct Token {
  enum Kind { Word, String, Op, Open, Close, End } kind = End;
  std::string text;
};

bool Tokenize(const std::string& text, std::vector<Token>& tokens, std::string& error) {
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '(') {
      tokens.push_back({Token::Open, "("});
      ++i;
    } else if (c == ')') {
      tokens.push_back({Token::Close, ")"});
      ++i;
    } else if (c == '\'') {
      std::string value;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        char d = text[i];
        if (d == '\\') {
          if (i + 1 >= text.size() || (text[i + 1] != '\'' && text[i + 1] != '\\')) {
            error = "Invalid escape sequence in string literal";
            return false;
          }
          value += text[i + 1];
          i += 2;
        } else if (d == '\'') {
          closed = true;
          ++i;
          break;
        } else {
          value += d;
          ++i;
        }
      }
      if (!closed) {
        error = "Unterminated string literal";
        return false;
      }
      tokens.push_back({Token::String, value});
    } else if (c == '=' || c == '!' || c == '<' || c == '>') {
      std::string op(1, c);
      if (i + 1 < text.size() && text[i + 1] == '=') op += '=';
      if (op == "!") {
        error = "Invalid operator";
        return false;
      }
      tokens.push_back({Token::Op, op});
      i += op.size();
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      size_t start = i;
      while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_' || text[i] == '.'))
        ++i;
      tokens.push_back({Token::Word, text.substr(start, i - start)});
    } else {
      error = std::string("Unexpected character '") + c + "'";
      return false;
    }
  }
  tokens.push_back({Token::End, ""});
  return true;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

struct DriveQuery::Node {
  enum Kind { And, Or, Not, InParents, Compare } kind = Compare;
  std::shared_ptr<const Node> left, right;
  std::string field, op, value;
  bool isBool = false;
};

namespace {

using NodePtr = std::shared_ptr<const DriveQuery::Node>;

class Parser {
 public:
  Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}
  std::string error;

  NodePtr ParseAll() {
    NodePtr node = ParseOr();
    if (node && Peek().kind != Token::End) return Fail("Unexpected '" + Peek().text + "'");
    return node;
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  Token Next() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
  bool PeekWord(const char* word) const { return Peek().kind == Token::Word && Lower(Peek().text) == word; }
  NodePtr Fail(const std::string& reason) {
    if (error.empty()) error = reason;
    return nullptr;
  }

  NodePtr Combine(DriveQuery::Node::Kind kind, NodePtr left, NodePtr right) {
    auto node = std::make_shared<DriveQuery::Node>();
    node->kind = kind;
    node->left = std::move(left);
    node->right = std::move(right);
    return node;
  }

  NodePtr ParseOr() {
    NodePtr left = ParseAnd();
    while (left && PeekWord("or")) {
      Next();
      NodePtr right = ParseAnd();
      if (!right) return nullptr;
      left = Combine(DriveQuery::Node::Or, left, right);
    }
    return left;
  }

  NodePtr ParseAnd() {
    NodePtr left = ParseUnary();
    while (left && PeekWord("and")) {
      Next();
      NodePtr right = ParseUnary();
      if (!right) return nullptr;
      left = Combine(DriveQuery::Node::And, left, right);
    }
    return left;
  }

  NodePtr ParseUnary() {
    if (PeekWord("not")) {
      Next();
      NodePtr inner = ParseUnary();
      return inner ? Combine(DriveQuery::Node::Not, inner, nullptr) : nullptr;
    }
    if (Peek().kind == Token::Open) {
      Next();
      NodePtr inner = ParseOr();
      if (!inner) return nullptr;
      if (Next().kind != Token::Close) return Fail("Missing ')'");
      return inner;
    }
    return ParseTerm();
  }

  NodePtr ParseTerm() {
    auto node = std::make_shared<DriveQuery::Node>();
    Token first = Next();
    if (first.kind == Token::String) {
      if (!PeekWord("in")) return Fail("Expected 'in' after a string");
      Next();
      Token collection = Next();
      if (collection.kind != Token::Word || collection.text != "parents")
        return Fail("Unsupported collection '" + collection.text + "'");
      node->kind = DriveQuery::Node::InParents;
      node->value = first.text;
      return node;
    }
    if (first.kind != Token::Word) return Fail("Expected a field name");
    static const std::vector<std::string> kFields = {"name", "mimeType", "trashed", "starred", "fullText"};
    if (std::find(kFields.begin(), kFields.end(), first.text) == kFields.end())
      return Fail("Unsupported field '" + first.text + "'");
    node->field = first.text;
    Token op = Next();
    if (op.kind == Token::Word && op.text == "contains") {
      node->op = "contains";
    } else if (op.kind == Token::Op && (op.text == "=" || op.text == "!=")) {
      node->op = op.text;
    } else {
      return Fail("Unsupported operator '" + op.text + "' for " + first.text);
    }
    Token value = Next();
    bool boolField = node->field == "trashed" || node->field == "starred";
    if (boolField) {
      if (value.kind != Token::Word || (value.text != "true" && value.text != "false") || node->op == "contains")
        return Fail("Expected true or false for " + node->field);
      node->isBool = true;
    } else if (value.kind != Token::String) {
      return Fail("Expected a string literal for " + node->field);
    } else if (node->field == "fullText" && node->op != "contains") {
      return Fail("fullText supports only contains");
    }
    node->value = value.text;
    return node;
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

bool Evaluate(const DriveQuery::Node& node, const DriveFile& file, const std::string& rootId) {
  using Node = DriveQuery::Node;
  switch (node.kind) {
    case Node::And:
      return Evaluate(*node.left, file, rootId) && Evaluate(*node.right, file, rootId);
    case Node::Or:
      return Evaluate(*node.left, file, rootId) || Evaluate(*node.right, file, rootId);
    case Node::Not:
      return !Evaluate(*node.left, file, rootId);
    case Node::InParents: {
      std::string parent = node.value == "root" ? rootId : node.value;
      return std::find(file.parents.begin(), file.parents.end(), parent) != file.parents.end();
    }
    case Node::Compare:
      break;
  }
  if (node.isBool) {
    bool actual = node.field == "trashed" ? file.trashed : false;
    bool wanted = node.value == "true";
    return node.op == "=" ? actual == wanted : actual != wanted;
  }
  std::string actual = node.field == "mimeType" ? file.mimeType : file.name;
  if (node.op == "contains") return Lower(actual).find(Lower(node.value)) != std::string::npos;
  return node.op == "=" ? actual == node.value : actual != node.value;
}

bool ParseMask(const std::string& text, size_t& pos, std::map<std::string, FieldMask>& members, std::string& error);

}  // namespace

bool DriveQuery::Parse(const std::string& text, DriveQuery& query, std::string& error) {
  query.root_.reset();
  std::vector<Token> tokens;
  if (!Tokenize(text, tokens, error)) return false;
  if (tokens.size() == 1) return true;  // empty query
  Parser parser(std::move(tokens));
  NodePtr root = parser.ParseAll();
  if (!root) {
    error = parser.error;
    return false;
  }
  query.root_ = root;
  return true;
}

bool DriveQuery::Matches(const DriveFile& file, const std::string& rootId) const {
  return !root_ || Evaluate(*root_, file, rootId);
}

bool FieldMask::Parse(const std::string& text, FieldMask& mask, std::string& error) {
  mask.members_.clear();
  std::string compact;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) compact += c;
  if (compact.empty()) return true;
  size_t pos = 0;
  if (!ParseMask(compact, pos, mask.members_, error)) return false;
  if (pos != compact.size()) {
    error = "Invalid field selection " + text;
    return false;
  }
  return true;
}

namespace {

// "a,b(c,d),e/f": a member's sub-selection is parsed as a selection of its own.
bool ParseMask(const std::string& text, size_t& pos, std::map<std::string, FieldMask>& members, std::string& error) {
  while (pos < text.size()) {
    size_t start = pos;
    while (pos < text.size() && text[pos] != ',' && text[pos] != '(' && text[pos] != ')') ++pos;
    std::string name = text.substr(start, pos - start);
    if (name.empty()) {
      error = "Invalid field selection";
      return false;
    }
    std::string sub;
    if (pos < text.size() && text[pos] == '(') {
      int depth = 1;
      size_t subStart = ++pos;
      while (pos < text.size() && depth > 0) {
        if (text[pos] == '(') ++depth;
        if (text[pos] == ')') --depth;
        ++pos;
      }
      if (depth != 0) {
        error = "Unbalanced parentheses in field selection";
        return false;
      }
      sub = text.substr(subStart, pos - subStart - 1);
    }
    // "a/b/c" selects c inside b inside a.
    size_t slash = name.find('/');
    if (slash != std::string::npos) {
      std::string rest = name.substr(slash + 1);
      if (!sub.empty()) rest += "(" + sub + ")";
      sub = rest;
      name = name.substr(0, slash);
    }
    FieldMask child;
    if (!sub.empty() && !FieldMask::Parse(sub, child, error)) return false;
    auto existing = members.find(name);
    if (existing == members.end())
      members.emplace(name, child);
    else
      existing->second = FieldMask();  // named twice: keep the whole member
    if (pos < text.size() && text[pos] == ',') {
      ++pos;
      continue;
    }
    if (pos < text.size()) {
      error = "Invalid field selection";
      return false;
    }
  }
  return true;
}

}  // namespace

GoogleJson FieldMask::Apply(const GoogleJson& value) const {
  if (members_.empty()) return value;
  if (value.is_array()) {
    GoogleJson out = GoogleJson::array();
    for (const auto& item : value) out.push_back(Apply(item));
    return out;
  }
  if (!value.is_object()) return value;
  if (members_.count("*")) return value;
  GoogleJson out = GoogleJson::object();
  for (const auto& [key, member] : value.items()) {
    auto it = members_.find(key);
    if (it != members_.end()) out[key] = it->second.Apply(member);
  }
  return out;
}

}  // namespace calvora::devcloud
