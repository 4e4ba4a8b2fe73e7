// Fill times of the message views and of rules over a large account.
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_BENCH=ON
//   ninja -C build/bench view_fill_bench && build/bench/bin/view_fill_bench

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "accounts/TUser.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "core/TSettingsStore.h"
#include "rules/TRuleListClass.h"
#include "views/TAbstractFiltering.h"
#include "views/TForeignCharacters.h"
#include "views/TViewFill.h"

using namespace tarnwick;

namespace {

class TQuietPrompter : public core::TPrompter
{
public:
    void Inform(core::TMessageKind, const std::string&) override {}
    core::TAnswer Ask(core::TMessageKind, const std::string&, const std::vector<core::TAnswer>&) override
    {
        return core::TAnswer::Yes;
    }
};

// One account of generated messages, with its settings store, data folder and message cache.
struct TWorld
{
    std::string Folder;
    std::shared_ptr<core::TSettingsStore> Store;
    std::unique_ptr<core::TRegistry> Registry;
    TQuietPrompter Prompter;
    accounts::TUser User;
    views::TViewInputs Inputs;

    TWorld(std::size_t records, std::size_t cached)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-bench-XXXXXX").string();
        Folder = ::mkdtemp(pattern.data());
        Store = std::make_shared<core::TSettingsStore>(Folder + "/settings.db");
        Registry = std::make_unique<core::TRegistry>(Store);
        std::filesystem::create_directories(Folder + "/cache");
        views::TForeignCharacters::Write(Folder, views::TForeignCharacters::InitialSet());

        static const char* const words[] = {"offer",
                                            "meeting",
                                            "invoice",
                                            "hello",
                                            "news",
                                            "report",
                                            "party",
                                            "update",
                                            "question",
                                            "photos",
                                            "r\xC3\xA9sum\xC3\xA9",
                                            "caf\xC3\xA9"};
        for (std::size_t i = 0; i < records; ++i) {
            accounts::TMailMessage m;
            m.Number = static_cast<std::int32_t>(i + 1);
            m.Subject = std::string(i % 7 == 0 ? " [ Spam ] " : "") + (i % 97 == 0 ? "Undeliverable: " : "") +
                        words[i % 12] + " " + words[(i / 12) % 12] + " number " + std::to_string(i % 5000);
            m.FromName = i % 97 == 0 ? "Mail Delivery Subsystem" : "Sender " + std::to_string(i % 1000);
            m.FromAddress =
                "sender" + std::to_string(i % 1000) + "@example" + std::to_string(i % 13) + ".org";
            m.FromText = m.FromName + " <" + m.FromAddress + ">";
            m.ToText = "me@example.org";
            m.CcText = i % 3 ? "" : "team@example.org, boss@example.org";
            m.Size = static_cast<std::int32_t>(1000 + (i * 7919) % 60000);
            m.Priority = i % 11 == 0 ? accounts::PriorityHigh : accounts::PriorityNormal;
            m.HasAttachments = i % 5 == 0;
            m.Sent = static_cast<std::int64_t>(i) * 60'000;
            m.CacheName = "msg" + std::to_string(i);
            m.Headers = {"From: " + m.FromText, "Subject: " + m.Subject};
            if (i < cached) {
                std::ofstream(Folder + "/cache/" + m.CacheName + ".eml")
                    << m.Headers[0] << "\r\n"
                    << m.Headers[1] << "\r\n\r\n"
                    << "Dear friend,\r\nthis is line two of message " << i << ".\r\nKind regards\r\n";
            }
            User.Mails.Add(m);
        }
        User.TrashNotEmpty = true;
        Inputs.Registry = Registry.get();
        Inputs.Prompter = &Prompter;
        Inputs.DataFolder = Folder;
        Inputs.Match.CacheFolder = Folder + "/cache";
        Inputs.Match.AccountNames = {"Home", "example3.org"};
        for (int i = 0; i < 200; ++i) {
            Inputs.WhiteList.push_back("sender" + std::to_string(i) + "@example" + std::to_string(i % 13) +
                                       ".org");
            Inputs.BlackList.push_back("sender" + std::to_string(500 + i) + "@example" +
                                       std::to_string((500 + i) % 13) + ".org");
        }
    }
    ~TWorld() { std::filesystem::remove_all(Folder); }

    // A rule of five criteria, and the same with a body criterion.
    void AddRules()
    {
        auto& list = rules::RulesOf(User);
        const auto words = [](std::int32_t type, std::vector<std::string> entries, std::int32_t flags,
                              std::int32_t logic) {
            rules::TRulesCriteria c;
            c.Type = type;
            c.Flags = flags;
            c.Logic = logic;
            c.ValueType = rules::ValueList;
            c.ListValue = rules::JoinList(entries);
            return c;
        };
        const auto number = [](std::int32_t type, std::int32_t value, std::int32_t logic) {
            rules::TRulesCriteria c;
            c.Type = type;
            c.Logic = logic;
            c.ValueType = rules::ValueInteger;
            c.IntValue = value;
            return c;
        };
        rules::TRuleClass& five = rules::AddNewRule(*Registry, list, User.ID());
        five.Enabled = 1;
        five.Criteria = {words(rules::CriterionFrom, {"sender1", "sender2"}, 0, 0),
                         words(rules::CriterionSubject, {"offer", "invoice", "party"}, 0, rules::LogicOr),
                         words(rules::CriterionToOrCc, {"boss"}, 0, rules::LogicAnd),
                         number(rules::CriterionSize, 20, rules::LogicOr),
                         number(rules::CriterionAccount, 1, rules::LogicAnd)};
        rules::SaveRule(*Registry, five, five.KeyPath, true);
        rules::TRuleClass& body = rules::AddNewRule(*Registry, list, User.ID());
        body.Enabled = 1;
        body.Criteria = five.Criteria;
        body.Criteria.push_back(words(rules::CriterionBody, {"regards"}, 0, rules::LogicAnd));
        rules::SaveRule(*Registry, body, body.KeyPath, true);
    }
};

void Fill(benchmark::State& state, int position, std::size_t records, std::size_t cached)
{
    TWorld world(records, cached);
    world.AddRules();
    std::size_t rows = 0;
    for (auto _ : state) {
        const views::TFillResult result = views::FillView(world.User, position, world.Inputs);
        rows = result.Rows.size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["records"] = static_cast<double>(records);
}

} // namespace

#define VIEW_BENCH(name, position)                                                                           \
    BENCHMARK_CAPTURE(Fill, name, position, 100'000, 0)->Unit(benchmark::kMillisecond)->MinTime(1.0)

VIEW_BENCH(AllMessages, views::ViewAllMessages);
VIEW_BENCH(GoodMessages, views::ViewGood);
VIEW_BENCH(SpamMessages, views::ViewSpam);
VIEW_BENCH(QuestionableMessages, views::ViewQuestionable);
VIEW_BENCH(Duplicates, views::ViewDuplicates);
VIEW_BENCH(WithAttachments, views::ViewAttachments);
VIEW_BENCH(HighPriority, views::ViewHighPriority);
VIEW_BENCH(ForeignCharacters, views::ViewForeignCharacters);
VIEW_BENCH(DeliveryErrors, views::ViewDeliveryErrors);
VIEW_BENCH(VeryLarge, views::ViewVeryLarge);
VIEW_BENCH(FiveCriterionRule, views::RuleViewBase + 0);
BENCHMARK_CAPTURE(Fill, FiveCriteriaAndBody_10000Cached, views::RuleViewBase + 1, 10'000, 10'000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

BENCHMARK_MAIN();
