// The read-only world of `x5ctl check`: drive mappings and the runner's interfaces over them.
#include "x5ctl/check/check_world.h"

#include <algorithm>
#include <fstream>
#include <span>
#include <system_error>

#include "conditions/file_reader.h"
#include "core/ascii_text.h"
#include "variables/system_adapters.h"
#include "x5ctl/text/ansi_text.h"

namespace x5::ctl::check {
namespace {

namespace fs = std::filesystem;

// Windows error codes the runner would see where the check finds no file or no folder.
constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorPathNotFound = 3;

// A file held in memory: what a recorded write left at a path.
class StringReader final : public conditions::ChunkReader {
 public:
  explicit StringReader(const std::string& data) : data_(data) {}
  core::Result<int64_t> Size() const override { return static_cast<int64_t>(data_.size()); }
  core::Result<int64_t> ReadAt(int64_t offset, std::span<uint8_t> into) override {
    if (offset < 0 || offset > static_cast<int64_t>(data_.size()))
      return core::Failure{"offset outside the file", 22};
    const size_t n = std::min(into.size(), data_.size() - static_cast<size_t>(offset));
    std::copy_n(data_.data() + offset, n, into.data());
    return static_cast<int64_t>(n);
  }

 private:
  std::string data_;
};

}  // namespace

// ------------------------------------------------------------------------------ the adapters

struct World::Adapters {
  class Console final : public core::ConsoleSink {
   public:
    explicit Console(Journal& journal) : journal_(journal) {}
    void Line(std::string_view text) override { journal_.console.emplace_back(text); }

   private:
    Journal& journal_;
  };

  class Env final : public variables::Environment {
   public:
    explicit Env(World& world) : world_(world) {}
    std::optional<std::string> Get(std::string_view name) const override {
      const auto found = world_.options_.environment.find(core::UpperAscii(name));
      if (found != world_.options_.environment.end()) {
        world_.journal_.environment_given.emplace_back(name);
        return found->second;
      }
      world_.journal_.environment_misses.emplace_back(name);
      return std::nullopt;
    }

   private:
    World& world_;
  };

  class Time final : public variables::Clock {
   public:
    explicit Time(World& world) : world_(world) {}
    core::LocalTime Now() const override {
      world_.journal_.clock_used = true;
      return world_.options_.now ? *world_.options_.now : system_.Now();
    }

   private:
    World& world_;
    variables::SystemClock system_;
  };

  // Lists and reads through the mapping; a write is recorded, and fails where the runner's would
  // (no mapping covers the folder, or the folder is missing).
  class Parameters final : public variables::ParameterFiles {
   public:
    explicit Parameters(World& world) : world_(world) {}
    variables::ParameterListing List(const std::string& directory, size_t max_names) override {
      variables::ParameterListing listing;
      FileLookup& lookup = world_.Look(directory);
      if (!lookup.mapped.local)
        return listing;
      std::error_code ec;
      lookup.found = fs::is_directory(*lookup.mapped.local, ec);
      for (fs::directory_iterator it(*lookup.mapped.local, ec), end; !ec && it != end;
           it.increment(ec)) {
        std::error_code type_error;
        if (!it->is_regular_file(type_error))
          continue;
        std::optional<std::string> name = host::AnsiName(it->path().filename());
        if (name && name->size() > variables::kGlobalParameterSuffix.size() &&
            name->ends_with(variables::kGlobalParameterSuffix))
          listing.names.push_back(std::move(*name));
      }
      // A fixed order, as the runner's native build has; then the runner's bound.
      std::sort(listing.names.begin(), listing.names.end());
      if (listing.names.size() > max_names) {
        listing.left_out = listing.names.size() - max_names;
        listing.names.resize(max_names);
      }
      return listing;
    }
    std::optional<std::string> ReadFirstLine(const std::string& path) override {
      const FileLookup& lookup = world_.Look(path);
      if (!lookup.mapped.local)
        return std::nullopt;
      return system_.ReadFirstLine(lookup.mapped.local->string());
    }
    core::Result<void> WriteAtomically(const std::string& path,
                                       std::string_view content,
                                       std::string& refusal) override {
      refusal.clear();
      RecordedWrite write{"global parameter file", path, world_.drives_.Map(path), content.size()};
      const bool fails = FolderMissing(write.mapped);
      write.would_fail = fails;
      world_.Record(std::move(write), std::string(content));
      if (fails)
        return core::Failure{"the parameter file's folder is missing", kErrorPathNotFound};
      return {};
    }

   private:
    World& world_;
    variables::SystemParameterFiles system_;
  };

  class Rules final : public conditions::RuleFiles {
   public:
    explicit Rules(World& world) : world_(world) {}
    std::optional<conditions::FileFacts> Find(std::string_view name) override {
      FileLookup& lookup = world_.Look(name);
      if (!lookup.mapped.local || name.find_first_of("*?") != std::string_view::npos)
        return std::nullopt;
      conditions::FileFacts facts;
      // Attributes other than read-only are not kept here: taken as a file written since the
      // last backup (archive set), neither system nor hidden.
      facts.archive = true;
      if (const std::string* written = world_.Written(lookup.mapped)) {
        lookup.found = lookup.written = true;
        facts.size = static_cast<int64_t>(written->size());
        return facts;
      }
      std::error_code ec;
      const fs::file_status status = fs::status(*lookup.mapped.local, ec);
      if (ec || !fs::is_regular_file(status))
        return std::nullopt;
      const auto size = fs::file_size(*lookup.mapped.local, ec);
      if (ec)
        return std::nullopt;
      lookup.found = true;
      facts.size = static_cast<int64_t>(size);
      facts.read_only = (status.permissions() & fs::perms::owner_write) == fs::perms::none;
      return facts;
    }
    core::Result<std::unique_ptr<conditions::ChunkReader>> Open(std::string_view name,
                                                                bool) override {
      const MappedPath mapped = world_.drives_.Map(name);
      if (!mapped.local)
        return core::Failure{"cannot open", kErrorPathNotFound};
      if (const std::string* written = world_.Written(mapped))
        return std::unique_ptr<conditions::ChunkReader>(std::make_unique<StringReader>(*written));
      // Never locked here: whether another process holds the file open is the real machine's.
      return conditions::OpenFileReader(mapped.local->string(), false);
    }

   private:
    World& world_;
  };

  class Files final : public commands::FileAccess {
   public:
    explicit Files(World& world) : world_(world), system_(commands::MakeSystemFileAccess()) {}
    commands::ReadOutcome ReadWhole(std::string_view path,
                                    int64_t max_bytes,
                                    std::string& into) override {
      into.clear();
      FileLookup& lookup = world_.Look(path);
      if (!lookup.mapped.local)
        return {commands::ReadOutcome::State::kMissing, 0, kErrorPathNotFound};
      if (const std::string* written = world_.Written(lookup.mapped)) {
        lookup.found = lookup.written = true;
        if (static_cast<int64_t>(written->size()) > max_bytes)
          return {commands::ReadOutcome::State::kTooLarge, static_cast<int64_t>(written->size()),
                  0};
        into = *written;
        return {commands::ReadOutcome::State::kRead, static_cast<int64_t>(into.size()), 0};
      }
      const commands::ReadOutcome outcome =
          system_->ReadWhole(lookup.mapped.local->string(), max_bytes, into);
      lookup.found = outcome.state != commands::ReadOutcome::State::kMissing;
      if (outcome.state == commands::ReadOutcome::State::kMissing)
        return {commands::ReadOutcome::State::kMissing, 0, kErrorFileNotFound};
      return outcome;
    }
    commands::WriteOutcome WriteAtomically(std::string_view path,
                                           std::string_view content) override {
      RecordedWrite write{
          path.ends_with(commands::kPrinterReportFile) ? "printer report" : "edited file",
          std::string(path), world_.drives_.Map(path), content.size()};
      const bool fails = FolderMissing(write.mapped);
      write.would_fail = fails;
      world_.Record(std::move(write), std::string(content));
      if (fails)
        return {commands::WriteOutcome::State::kWriteFailed, kErrorPathNotFound};
      return {commands::WriteOutcome::State::kWritten, 0};
    }
    std::string ErrorText(int32_t error) override {
      world_.journal_.error_texts_used = true;
      return system_->ErrorText(error);
    }

   private:
    World& world_;
    std::unique_ptr<commands::FileAccess> system_;
  };

  class Pace final : public conditions::Pacer {
   public:
    explicit Pace(Journal& journal) : journal_(journal) {}
    bool Poll(int64_t chunk_bytes) override {
      journal_.bytes_read += chunk_bytes;
      return true;  // no parent: nobody holds or kills the check
    }

   private:
    Journal& journal_;
  };

  class Printers final : public commands::PrinterSource {
   public:
    explicit Printers(Journal& journal) : journal_(journal) {}
    std::vector<commands::PrinterEntry> Installed() override {
      journal_.printers_asked = true;
      return {};
    }
    bool Describe(const std::string&, std::string&, std::string&) override { return false; }

   private:
    Journal& journal_;
  };

  class Shell final : public commands::Associations {
   public:
    explicit Shell(Journal& journal) : journal_(journal) {}
    std::optional<std::string> FindExecutable(std::string_view document,
                                              std::string_view) const override {
      if (std::find(journal_.associations.begin(), journal_.associations.end(), document) ==
          journal_.associations.end())
        journal_.associations.emplace_back(document);
      return std::nullopt;
    }

   private:
    Journal& journal_;
  };

  class ConsoleCopy final : public commands::ConsoleFile {
   public:
    explicit ConsoleCopy(World& world) : world_(world) {}
    void Save() override {
      if (path.empty())
        return;
      RecordedWrite write{"console file", path, world_.drives_.Map(path), 0};
      write.would_fail = FolderMissing(write.mapped);
      world_.Record(std::move(write), {});
    }
    std::string path;

   private:
    World& world_;
  };

  static bool FolderMissing(const MappedPath& mapped) {
    std::error_code ec;
    return !mapped.local || !fs::is_directory(mapped.local->parent_path(), ec);
  }

  explicit Adapters(World& world)
      : console(world.journal_),
        environment(world),
        clock(world),
        parameters(world),
        rules(world),
        files(world),
        pacer(world.journal_),
        printers(world.journal_),
        shell(world.journal_),
        console_copy(world) {}

  Console console;
  Env environment;
  Time clock;
  variables::EnglishDateNames names;
  Parameters parameters;
  Rules rules;
  Files files;
  Pace pacer;
  Printers printers;
  Shell shell;
  ConsoleCopy console_copy;
};

World::World(const DriveMap& drives, WorldOptions options)
    : drives_(drives), options_(std::move(options)), adapters_(std::make_unique<Adapters>(*this)) {}

World::~World() = default;

core::ConsoleSink& World::console() {
  return adapters_->console;
}
const variables::Environment& World::environment() const {
  return adapters_->environment;
}
const variables::Clock& World::clock() const {
  return adapters_->clock;
}
const variables::DateNames& World::date_names() const {
  return adapters_->names;
}
variables::ParameterFiles& World::parameter_files() {
  return adapters_->parameters;
}
conditions::RuleFiles& World::rule_files() {
  return adapters_->rules;
}
commands::FileAccess& World::file_access() {
  return adapters_->files;
}
conditions::Pacer& World::pacer() {
  return adapters_->pacer;
}
commands::PrinterSource& World::printers() {
  return adapters_->printers;
}
const commands::Associations& World::associations() const {
  return adapters_->shell;
}
commands::ConsoleFile& World::console_file(const std::string& console_file) {
  adapters_->console_copy.path = console_file;
  return adapters_->console_copy;
}

const std::string* World::Written(const MappedPath& mapped) const {
  if (!mapped.local)
    return nullptr;
  const auto found = written_.find(mapped.local->lexically_normal().string());
  return found == written_.end() ? nullptr : &found->second;
}

void World::Record(RecordedWrite write, std::string content) {
  if (write.mapped.local && !write.would_fail && write.what != "console file")
    written_[write.mapped.local->lexically_normal().string()] = std::move(content);
  journal_.writes.push_back(std::move(write));
}

FileLookup& World::Look(std::string_view path) {
  journal_.files.push_back(FileLookup{std::string(path), drives_.Map(path), false});
  return journal_.files.back();
}

}  // namespace x5::ctl::check
