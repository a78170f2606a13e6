#include "platform/sim/sim_file_system.h"

#include <algorithm>
#include <cstring>

namespace korval::platform::sim {

class SimFile final : public File {
 public:
  SimFile(std::shared_ptr<SimFileSystem::Node> node, bool writable, bool writes_fail,
          std::optional<SimFileSystem::ReadFault> fail_read_at,
          std::optional<std::uint64_t> room = std::nullopt)
      : node_(std::move(node)),
        writable_(writable),
        writes_fail_(writes_fail),
        fail_read_at_(fail_read_at),
        room_(room) {}

  std::optional<std::uint64_t> Size() override {
    std::lock_guard lock(node_->mutex);
    return node_->bytes.size();
  }

  bool Read(void* bytes, std::size_t count, std::size_t* got) override {
    std::lock_guard lock(node_->mutex);
    *got = 0;
    if (writable_) return false;
    if (fail_read_at_ && passes_ >= fail_read_at_->pass &&
        position_ + count > fail_read_at_->offset) {
      return false;
    }
    const std::size_t left = node_->bytes.size() - std::min(position_, node_->bytes.size());
    *got = std::min(count, left);
    std::memcpy(bytes, node_->bytes.data() + position_, *got);
    position_ += *got;
    return true;
  }

  bool Rewind() override {
    std::lock_guard lock(node_->mutex);
    position_ = 0;
    ++passes_;
    return true;
  }

  bool Write(const void* bytes, std::size_t count, std::size_t* written) override {
    std::lock_guard lock(node_->mutex);
    *written = 0;
    if (!writable_ || writes_fail_) return false;
    std::size_t fits = count;
    if (room_) {
      const std::uint64_t used = node_->bytes.size();
      const std::uint64_t left = used >= *room_ ? 0 : *room_ - used;
      fits = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
    }
    node_->bytes.append(static_cast<const char*>(bytes), fits);
    *written = fits;
    return fits == count;
  }

 private:
  std::shared_ptr<SimFileSystem::Node> node_;
  bool writable_;
  bool writes_fail_;
  std::optional<SimFileSystem::ReadFault> fail_read_at_;
  std::optional<std::uint64_t> room_;  // the disk's room for this file
  std::size_t position_ = 0;
  int passes_ = 0;  // rewinds so far
};

std::string SimFileSystem::Key(const std::string& path) {
  const std::size_t end = path.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

std::unique_ptr<File> SimFileSystem::OpenForReading(const std::string& path) {
  auto lock = Lock();
  const std::string key = Key(path);
  auto it = files_.find(key);
  if (it == files_.end() || fail_open_.count(key)) return nullptr;
  std::optional<ReadFault> fail_at;
  if (auto f = fail_read_at_.find(key); f != fail_read_at_.end()) fail_at = f->second;
  return std::make_unique<SimFile>(it->second, false, false, fail_at);
}

std::unique_ptr<File> SimFileSystem::CreateAlways(const std::string& path) {
  auto lock = Lock();
  const std::string key = Key(path);
  if (key.empty() || fail_create_.count(key) || folders_.count(key)) return nullptr;
  auto node = std::make_shared<Node>();
  files_[key] = node;
  std::optional<std::uint64_t> room;
  if (auto full = disk_full_at_.find(key); full != disk_full_at_.end()) room = full->second;
  return std::make_unique<SimFile>(node, true, fail_write_.count(key) > 0, std::nullopt, room);
}

std::unique_ptr<File> SimFileSystem::CreateBeside(const std::string& path, std::string* created) {
  auto lock = Lock();
  const std::string key = Key(path);
  if (key.empty() || fail_create_.count(key)) return nullptr;
  std::string name;
  do {
    name = key + ".~" + std::to_string(++beside_count_);
  } while (files_.count(name) || folders_.count(name));
  auto node = std::make_shared<Node>();
  files_[name] = node;
  if (created != nullptr) *created = name;
  return std::make_unique<SimFile>(node, true, fail_write_.count(key) > 0, std::nullopt);
}

bool SimFileSystem::Delete(const std::string& path) {
  auto lock = Lock();
  if (fail_delete_.count(Key(path))) return false;
  return files_.erase(Key(path)) > 0;
}

bool SimFileSystem::Move(const std::string& from, const std::string& to) {
  auto lock = Lock();
  if (fail_move_.count(Key(from))) return false;
  auto it = files_.find(Key(from));
  const std::string target = Key(to);
  if (it == files_.end() || files_.count(target) || folders_.count(target)) return false;
  files_[target] = it->second;
  files_.erase(it);
  return true;
}

std::optional<std::uint64_t> SimFileSystem::SizeOf(const std::string& path) {
  auto lock = Lock();
  auto it = files_.find(Key(path));
  if (it == files_.end()) return std::nullopt;
  std::lock_guard node_lock(it->second->mutex);
  return it->second->bytes.size();
}

OpenProblem SimFileSystem::ReadProblem(const std::string& path) {
  auto lock = Lock();
  const std::string key = Key(path);
  if (folders_.count(key)) return OpenProblem::kFolder;
  if (devices_.count(key)) return OpenProblem::kNotAFile;
  if (!files_.count(key)) return OpenProblem::kMissing;
  return fail_open_.count(key) ? OpenProblem::kAccessDenied : OpenProblem::kNone;
}

void SimFileSystem::Put(const std::string& path, std::string bytes) {
  auto lock = Lock();
  auto node = std::make_shared<Node>();
  node->bytes = std::move(bytes);
  files_[Key(path)] = node;
}

std::optional<std::string> SimFileSystem::Get(const std::string& path) const {
  auto lock = Lock();
  auto it = files_.find(Key(path));
  if (it == files_.end()) return std::nullopt;
  std::lock_guard node_lock(it->second->mutex);
  return it->second->bytes;
}

std::vector<std::string> SimFileSystem::Paths() const {
  auto lock = Lock();
  std::vector<std::string> paths;
  for (const auto& [path, node] : files_) paths.push_back(path);
  return paths;
}

void SimFileSystem::AddFolder(const std::string& path) {
  auto lock = Lock();
  folders_.insert(Key(path));
}

bool SimFileSystem::WritesFail(const std::string& path) const {
  auto lock = Lock();
  const std::string key = Key(path);
  return fail_write_.count(key) > 0 || folders_.count(key) > 0;
}

bool SimFileSystem::IsFolder(const std::string& path) const {
  auto lock = Lock();
  return folders_.count(Key(path)) > 0;
}

}  // namespace korval::platform::sim
