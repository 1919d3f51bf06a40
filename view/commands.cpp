// Commands and view events: what every key, touch and event does.

#include "app/logmessage.h"
#include "app/mainmenuapp.h"
#include "app/userevent.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recorderview.h"
#include "view/recordfiles.h"

namespace {

constexpr const char* kUnit = "recorderview.cpp";

}  // namespace

int CRecorderView::OnKeyCommand(int pressed, int code)
{
    if (pressed)
        return 0;
    switch (code) {
    case CMD_PLAY:
        if (recording)
            break;
        if (playing)
            OnPlayStop();
        else
            OnPlayStart();
        break;
    case CMD_BACK:
        if (help_shown)
            OnHelpClose();
        else if (recording)
            OnRecordStop();
        else if (playing)
            OnPlayStop();
        else
            LeaveWith("--view-apps");
        break;
    case CMD_RECORD:
    case CMD_RECORD_ALT:
        if (help_shown)
            OnHelpClose();
        else if (playing)
            break;
        else if (recording)
            OnRecordStop();
        else
            OnRecordStart();
        break;
    case CMD_LEAVE:
        if (recording || playing)
            run.RequestExit();
        else
            LeaveWith("--view-main");
        break;
    case CMD_VERSION:
        show_version = !show_version;
        PostRedraw();
        break;
    default:
        break;
    }
    return 0;
}

void CRecorderView::OnPointer(int action, int x, int y)
{
    for (CMemButton* button : {play_button, record_button, list_button, help_close_button})
        if (button)
            button->HandlePointer(action, static_cast<Uint16>(x), static_cast<Uint16>(y));
}

void CRecorderView::OnUserEvent(int code, void* data1, void*)
{
    switch (code) {
    case EVT_REDRAW:
        DrawScreen(SDL_GetVideoSurface());
        break;
    case EVT_MSGBOX_CLOSED:
        OnMsgBoxClosed(static_cast<CMsgBox*>(data1));
        break;
    case EVT_BUTTON_PRESSED:
        PostRedraw();
        break;
    case EVT_BUTTON_RELEASED:
        OnButtonReleased(static_cast<CMemButton*>(data1));
        break;
    case EVT_PLAY_FINISHED:
    case EVT_PLAY_EXIT:
    case EVT_PLAY_NO_FILE:
        OnPlayEvent(code);
        break;
    case EVT_RECORD_FINISHED:
    case EVT_RECORD_STOPPING:
    case EVT_RECORD_EXIT:
    case EVT_RECORD_FAILED:
        OnRecordEvent(code);
        break;
    case EVT_WORKER_ENDED:
        OnWorkerEnded();
        break;
    case EVT_CARD_GONE:
        OnCardGone();
        break;
    case EVT_EXIT_OVERDUE:
        if (run.ExitOverdue()) {
            LogMessage(kUnit, __LINE__, "The soundcard does not answer: exit to mainApp...\n");
            LeaveWith("--view-main");
        }
        break;
    default:
        break;
    }
}

void CRecorderView::OnButtonReleased(CMemButton* sender)
{
    if (!sender)
        return;
    if (sender == play_button) {
        if (sender->GetState() == 1)
            OnPlayStart();
        else
            OnPlayStop();
    } else if (sender == record_button) {
        if (sender->GetState() == 1)
            OnRecordStart();
        else
            OnRecordStop();
    } else if (sender == list_button) {
        OnFileList();
    } else if (sender == help_close_button) {
        OnHelpClose();
    }
}

void CRecorderView::OnMsgBoxClosed(CMsgBox* sender)
{
    if (!sender || sender != msg_box)
        return;
    switch (msg_box->msg_index.load()) {
    case MSG_RECORD_FAILED:
    case MSG_PLAY_FAILED:
        StopStatusTimer();
        run.StopWorkers();
        LeaveWith("--view-main");
        return;
    case MSG_RESET_RECORD:
        // A worker that still runs puts its own buttons back when it ends.
        if (!run.Busy()) {
            ResetAfterRecord();
            PostRedraw();
        }
        break;
    case MSG_NO_CARD:
        if (!run.Busy()) {
            ResetAfterPlay();
            ResetAfterRecord();
            PostRedraw();
        }
        break;
    default:
        break;
    }
    msg_box->Acknowledge();
}

void CRecorderView::OnPlayEvent(int code)
{
    if (code == EVT_PLAY_EXIT) {
        // Answered: the reap of the worker's end, which follows, must not
        // leave a second time.
        exit_request = false;
        LogMessage(kUnit, __LINE__, "(Play) Exit to mainApp...\n");
        LeaveWith("--view-main");
        return;
    }
    const RunControl::Reaped reaped = run.Reap(RunKind::kPlay);
    if (reaped.any)
        LogMessage(kUnit, __LINE__, "(Play) PlayStop...\n");
    ResetAfterPlay();
    PostRedraw();
    if (reaped.exit_unanswered)
        LeaveWith("--view-main");
}

void CRecorderView::OnRecordEvent(int code)
{
    switch (code) {
    case EVT_RECORD_FAILED:
        RemoveRecording(card_chores, file_path);
        break;
    case EVT_RECORD_EXIT:
        exit_request = false;  // answered, as for a playback
        LogMessage(kUnit, __LINE__, "(Record) Exit to mainApp...\n");
        LeaveWith("--view-main");
        break;
    case EVT_RECORD_FINISHED: {
        const RunControl::Reaped reaped = run.Reap(RunKind::kRecord);
        if (reaped.any)
            LogMessage(kUnit, __LINE__, "(Record) RecordStop...\n");
        ResetAfterRecord();
        PostRedraw();
        if (reaped.exit_unanswered)
            LeaveWith("--view-main");
        break;
    }
    default:
        break;
    }
}

void CRecorderView::OnWorkerEnded()
{
    const RunControl::Reaped reaped = run.Reap();
    if (!reaped.any)
        return;
    if (reaped.exit_unanswered) {
        LeaveWith("--view-main");
        return;
    }
    // A message that tells of the run's end decides what follows it;
    // without one, the screen goes back to idle now.
    if (reaped.outcome_shown)
        return;
    if (reaped.kind == RunKind::kRecord)
        ResetAfterRecord();
    else
        ResetAfterPlay();
    PostRedraw();
}

void CRecorderView::OnFileList()
{
    if (recording || playing) {
        LogMessage(kUnit, __LINE__, "OnFileList Skip...!!\n");
        return;
    }
    PostRedraw();
    LeaveWith("--view-reclist");
}

void CRecorderView::OnHelpOpen()
{
    if (recording || playing)
        return;
    help_shown = true;
    for (CMemButton* button : {play_button, record_button, list_button})
        if (button)
            button->Disable();
    if (help_close_button)
        help_close_button->Enable();
    PostRedraw();
}

void CRecorderView::OnHelpClose()
{
    if (recording || playing)
        return;
    help_shown = false;
    for (CMemButton* button : {play_button, record_button, list_button})
        if (button)
            button->Enable();
    if (help_close_button)
        help_close_button->Disable();
    PostRedraw();
}

void CRecorderView::ResetAfterRecord()
{
    elapsed_sec = 0;
    if (record_button) {
        record_button->Enable();
        record_button->SetFrame(0);
    }
    if (play_button)
        play_button->Enable();
    if (list_button)
        list_button->Enable();
}

void CRecorderView::ResetAfterPlay()
{
    elapsed_sec = 0;
    if (play_button) {
        play_button->Enable();
        play_button->SetFrame(0);
    }
    if (record_button)
        record_button->Enable();
    if (list_button)
        list_button->Enable();
}

void CRecorderView::PostUserEvent(int code, void* data1, void* data2)
{
    ::PostUserEvent(code, data1, data2);
}

void CRecorderView::PostRedraw()
{
    PostUserEvent(EVT_REDRAW, this, nullptr);
}

void CRecorderView::LeaveWith(const char* view_name)
{
    theApp.SetExitView(view_name);
    PostUserEvent(EVT_QUIT_LOOP, this, nullptr);
}

void CRecorderView::ShowOutcome(int index)
{
    if (msg_box)
        msg_box->ShowOutcome(index);
}
