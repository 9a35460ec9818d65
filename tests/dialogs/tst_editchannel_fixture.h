#pragma once

#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "common/ModalResponder.h"
#include "dialogs/TfrmEditChannel.h"
#include "dialogs/TfrmEditChannelAll.h"
#include "views/ViewBoard.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// A view board with two channels on throwaway pages, a settings file in a temporary folder and
// both properties dialogs attached to them.
struct EditChannelFixture {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths::resolve(dir.path())};
  QTabWidget tabs;
  std::unique_ptr<ViewBoard> board;
  bool acquiring = false;
  int xyRefreshes = 0;
  int colourRequests = 0;
  std::optional<int> colourAnswer;
  std::unique_ptr<TfrmEditChannel> dlg;
  std::unique_ptr<TfrmEditChannelAll> dlgAll;
  std::vector<ModalResponder::Seen> seen;

  // `prepare` may write settings and fill the meter table before the views are built.
  explicit EditChannelFixture(const std::function<void(EditChannelFixture &)> &prepare = {}) {
    ctx.settings = std::make_unique<ProfileStore>(ctx.paths.settingsFile);
    if (prepare)
      prepare(*this);
    ctx.options.load(*ctx.settings, ctx.paths.dataFolder);
    ViewBoard::Pages pages;
    pages.pageControl = &tabs;
    pages.channelPage = new QWidget;
    pages.xyPage = new QWidget;
    pages.comparePage = new QWidget;
    pages.window = &tabs;
    tabs.addTab(pages.channelPage, QStringLiteral("通道/时间曲线"));
    tabs.addTab(pages.xyPage, QStringLiteral("X/Y曲线"));
    tabs.addTab(pages.comparePage, QStringLiteral("通道比较"));
    tabs.resize(800, 600);
    board = std::make_unique<ViewBoard>(ctx, pages, ViewBoard::Commands{});
    board->BuildChannelViews(2);

    TfrmEditChannel::Hooks h;
    h.board = board.get();
    h.acquiring = [this] { return acquiring; };
    h.setupXYView = [this] { ++xyRefreshes; };
    dlg = std::make_unique<TfrmEditChannel>(ctx, h);
    dlg->chooseColor = [this](int) {
      ++colourRequests;
      return colourAnswer;
    };
    dlgAll = std::make_unique<TfrmEditChannelAll>(ctx, board.get());
  }

  ProfileStore &s() { return *ctx.settings; }

  // Shows `d`, lets `edit` change its controls, presses OK; returns whether the dialog closed.
  template <typename D>
  bool okWith(D &d, const std::function<void(D &)> &edit = {}) {
    d.show();
    if (edit)
      edit(d);
    ModalResponder responder;
    d.btnOK->click();
    seen = responder.seen;
    const bool closed = !d.isVisible();
    d.hide();
    return closed;
  }
  bool okChannel(int channel, const std::function<void(TfrmEditChannel &)> &edit = {}) {
    dlg->setTag(channel);
    return okWith<TfrmEditChannel>(*dlg, edit);
  }
  bool okCompare(const std::function<void(TfrmEditChannelAll &)> &edit = {}) {
    return okWith<TfrmEditChannelAll>(*dlgAll, edit);
  }
};
