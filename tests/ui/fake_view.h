// A view of the window core without a toolkit: every control's state kept in
// plain members, the file and folder dialogs and the questions answered from
// queues. A question the test did not script fails the test.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/channel.h"
#include "ui/dialog_view.h"

namespace uitest {

struct ControlState {
    std::string text;
    bool checked = false;
    bool enabled = true;
    bool visible = true;
};

struct ChannelState {
    int entries = 0;
    int selection = -1;
    bool portEnabled = true;
    std::string toolTip;
    std::string barText;
    int lower = 0;
    int upper = 100;
    int pos = 0;
    ui::DialogView::BarLook look = ui::DialogView::BarLook::kNormal;
};

class FakeView : public ui::DialogView {
public:
    ControlState& operator[](ui::Control c) { return controls[static_cast<int>(c)]; }

    std::string Text(ui::Control c) const override { return At(c).text; }
    void SetText(ui::Control c, const std::string& text) override { (*this)[c].text = text; }
    bool IsChecked(ui::Control c) const override { return At(c).checked; }
    void SetChecked(ui::Control c, bool on) override { (*this)[c].checked = on; }
    void SetEnabled(ui::Control c, bool on) override { (*this)[c].enabled = on; }
    void SetVisible(ui::Control c, bool on) override { (*this)[c].visible = on; }
    void SetFocus(ui::Control c) override { focus = c; }
    void SetPortEntries(int ch, int entries) override { channels[ch].entries = entries; }
    int PortSelection(int ch) const override { return channels[ch].selection; }
    void SelectPort(int ch, int entry) override { channels[ch].selection = entry; }
    void SetPortEnabled(int ch, bool on) override { channels[ch].portEnabled = on; }
    void SetPortToolTip(int ch, const std::string& text) override { channels[ch].toolTip = text; }
    void SetBarText(int ch, const std::string& text) override { channels[ch].barText = text; }
    void SetBarRange(int ch, int lower, int upper) override {
        channels[ch].lower = lower;
        channels[ch].upper = upper;
    }
    void SetBarPos(int ch, int pos) override { channels[ch].pos = pos; }
    void SetBarLook(int ch, BarLook look) override { channels[ch].look = look; }
    std::optional<std::string> ChooseImageSetToLoad(const std::string&) override { return Next(); }
    std::optional<std::string> ChooseImageSetToSave(const std::string&) override { return Next(); }
    std::optional<std::string> ChooseImageFile(const char*, const char*) override { return Next(); }
    std::optional<std::string> ChooseFolder(const char*, const std::string&) override {
        return Next();
    }
    // The station's tests answer from askAnswers in turn (none = Cancel); the
    // others expect each question of questions in turn.
    Answer Ask(const std::string& text, bool withCancel) override {
        asked.push_back(text);
        if (!askAnswers.empty()) {
            const Answer answer = askAnswers.front();
            askAnswers.pop_front();
            return withCancel || answer != Answer::kCancel ? answer : Answer::kNo;
        }
        if (questions.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return Answer::kNo;
        }
        const auto [expected, answer] = questions.front();
        questions.pop_front();
        EXPECT_EQ(text, expected);
        EXPECT_TRUE(withCancel || answer != Answer::kCancel) << text;
        return answer;
    }
    void RunWithWindowPump(const std::function<void()>& session) override {
        if (duringSession) duringSession();
        session();
    }
    void EndDialog() override {
        ++endDialogCalls;
        if (onEndDialog) onEndDialog();
    }

    std::array<ControlState, ui::kControlCount> controls{};
    std::array<ChannelState, kChannelCount> channels{};
    ui::Control focus = ui::Control::kCount;
    std::deque<std::optional<std::string>> answers;  // dialogs answered in turn; none = Cancel
    // The questions expected in turn, each with its answer.
    std::deque<std::pair<std::string, Answer>> questions;
    std::function<void()> duringSession;
    std::function<void()> onEndDialog;
    int endDialogCalls = 0;
    std::deque<Answer> askAnswers;   // questions answered in turn
    std::vector<std::string> asked;  // every question asked

private:
    const ControlState& At(ui::Control c) const { return controls[static_cast<int>(c)]; }
    std::optional<std::string> Next() {
        if (answers.empty()) return std::nullopt;
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

}  // namespace uitest
