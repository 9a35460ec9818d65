// Texts fit their widgets in the fonts this machine has (a "宋体" request falls back to whatever
// CJK font is installed): every caption of every dialog page, and the unit caption of a
// channel view's information window.
#include "acquisition/TChannel.h"
#include "app/AppContext.h"
#include "dialogs/tst_editchannel_fixture.h"
#include "dialogs/TfrmEditChannel.h"
#include "dialogs/TfrmEditChannelAll.h"
#include "dialogs/TfrmEditXYChannel.h"
#include "dialogs/TfrmSetup.h"
#include "views/TfraChannel.h"
#include "views/ViewBoard.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// The text as drawn: without the "&" of a mnemonic.
QString shownText(QString text) {
  text.replace(QLatin1String("&&"), QStringLiteral("\x01"));
  text.remove(QLatin1Char('&'));
  text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
  return text;
}

// Why the widget's text does not fit, or an empty string.
QString misfit(QWidget *w) {
  const auto describe = [w](const QString &text, int need, int have) {
    return QStringLiteral("%1 \"%2\": needs %3, has %4").arg(w->metaObject()->className(), text).arg(need).arg(have);
  };
  if (auto *l = qobject_cast<QLabel *>(w)) {
    if (l->text().isEmpty() || l->textFormat() == Qt::RichText)
      return {};
    const QRect r = l->contentsRect();
    if (l->wordWrap()) {
      const int need = l->heightForWidth(l->width());
      return need <= l->height() ? QString() : describe(l->text(), need, l->height()) + QStringLiteral(" (height)");
    }
    const int need = l->fontMetrics().horizontalAdvance(shownText(l->text()));
    if (need > r.width())
      return describe(l->text(), need, r.width());
    if (l->fontMetrics().height() > r.height())
      return describe(l->text(), l->fontMetrics().height(), r.height()) + QStringLiteral(" (height)");
    return {};
  }
  if (auto *b = qobject_cast<QAbstractButton *>(w); b && (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w))) {
    if (b->text().isEmpty())
      return {};
    // The indicator and the text: the button's own size hint.
    const int need = std::max(b->sizeHint().width(), b->fontMetrics().horizontalAdvance(shownText(b->text())));
    return need <= b->width() ? QString() : describe(b->text(), need, b->width());
  }
  if (auto *g = qobject_cast<QGroupBox *>(w)) {
    if (g->title().isEmpty())
      return {};
    const int need = std::max(g->minimumSizeHint().width(), g->fontMetrics().horizontalAdvance(shownText(g->title())));
    return need <= g->width() ? QString() : describe(g->title(), need, g->width());
  }
  return {};
}

// Every visible caption of the dialog, page by page of each page control.
QStringList misfits(QDialog &dialog) {
  QStringList out;
  const auto check = [&out, &dialog] {
    for (QWidget *w : dialog.findChildren<QWidget *>())
      if (w->isVisible()) {
        const QString why = misfit(w);
        if (!why.isEmpty() && !out.contains(why))
          out << why;
      }
  };
  const QList<QTabWidget *> tabs = dialog.findChildren<QTabWidget *>();
  check();
  for (QTabWidget *t : tabs)
    for (int i = 0; i < t->count(); ++i) {
      t->setCurrentIndex(i);
      QCoreApplication::processEvents();
      check();
    }
  return out;
}

// Builds a dialog with what it works on, and hands it to the check.
using DialogCheck = std::function<void(QDialog &)>;
using DialogMaker = std::function<void(const DialogCheck &)>;

// A settings file of its own in a temporary folder.
struct Context {
  QTemporaryDir dir;
  AppContext ctx{ProgramPaths::resolve(dir.path())};
  Context() {
    ctx.settings = std::make_unique<ProfileStore>(ctx.paths.settingsFile);
    ctx.options.load(*ctx.settings, ctx.paths.dataFolder);
  }
};

} // namespace

Q_DECLARE_METATYPE(DialogMaker)

class TestDialogsTextFit : public QObject {
  Q_OBJECT

private slots:
  void dialogTextsFit_data();
  void dialogTextsFit();
  void unitCaptionFits_data();
  void unitCaptionFits();
};

void TestDialogsTextFit::dialogTextsFit_data() {
  QTest::addColumn<DialogMaker>("make");
  QTest::newRow("X/Y properties") << DialogMaker([](const DialogCheck &check) {
    Context c;
    TfrmEditXYChannel d(c.ctx, TfrmEditXYChannel::Hooks{});
    check(d);
  });
  QTest::newRow("channel properties") << DialogMaker([](const DialogCheck &check) {
    EditChannelFixture f;
    f.dlg->setTag(1);
    check(*f.dlg);
  });
  QTest::newRow("compare properties") << DialogMaker([](const DialogCheck &check) {
    EditChannelFixture f;
    check(*f.dlgAll);
  });
  QTest::newRow("settings") << DialogMaker([](const DialogCheck &check) {
    Context c;
    TfrmSetup::Hooks h;
    h.writePanel = [](int, const QString &) {};
    h.showXYPage = [](bool) {};
    h.setSearchBaud = [](int) {};
    h.applyDisplayToViews = [] {};
    h.setTimeWindow = [](qint64) {};
    h.rescaleTimeAxis = [](double) {};
    h.setupXYView = [] {};
    TfrmSetup d(c.ctx, h);
    check(d);
  });
}

void TestDialogsTextFit::dialogTextsFit() {
  QFETCH(DialogMaker, make);
  bool checked = false;
  make([&checked](QDialog &dialog) {
    dialog.setModal(false);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QStringList bad = misfits(dialog);
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(QLatin1Char('\n'))));
    // And the dialog itself is no smaller than its layout needs.
    QVERIFY(dialog.width() >= dialog.minimumSizeHint().width());
    QVERIFY(dialog.height() >= dialog.minimumSizeHint().height());
    dialog.hide();
    checked = true;
  });
  QVERIFY(checked);
}

void TestDialogsTextFit::unitCaptionFits_data() {
  QTest::addColumn<QString>("unit");
  QTest::newRow("mm") << "mm";
  QTest::newRow("kg") << "kg";
  QTest::newRow("Kg, the design unit") << "Kg";
  QTest::newRow("two Chinese characters") << "公斤";
  QTest::newRow("four Chinese characters") << "千克每米";
  QTest::newRow("wide letters") << "WWMM";
  QTest::newRow("mixed") << "mm/分钟";
}

// The unit caption is as wide as its text in the font it is drawn with.
void TestDialogsTextFit::unitCaptionFits() {
  QFETCH(QString, unit);
  Context c;
  AppContext &ctx = c.ctx;
  QTabWidget tabs;
  auto *channelPage = new QWidget;
  auto *xyPage = new QWidget;
  auto *comparePage = new QWidget;
  tabs.addTab(channelPage, "a");
  tabs.addTab(xyPage, "b");
  tabs.addTab(comparePage, "c");
  tabs.show();
  channelPage->setFixedSize(800, 600);
  ViewBoard board(ctx, ViewBoard::Pages{&tabs, channelPage, xyPage, comparePage, &tabs}, ViewBoard::Commands{});
  board.BuildChannelViews(1);
  board.channel(0)->setMeasureUnit(unit);
  QLabel *lbl = board.view(0)->lblUnit;
  QCOMPARE(lbl->text(), unit);
  const int need = lbl->fontMetrics().horizontalAdvance(unit);
  QVERIFY2(need <= lbl->contentsRect().width(),
           qPrintable(QStringLiteral("needs %1, has %2").arg(need).arg(lbl->contentsRect().width())));
  // The caption stays inside the information window.
  QWidget *panel = board.view(0)->panel;
  QVERIFY(panel->rect().contains(QRect(lbl->mapTo(panel, QPoint(0, 0)), lbl->size())));
  // Never narrower than the width the unit's byte count gives.
  QVERIFY(panel->width() >= TChannel::PanelWidthForUnit(unit));
}

QTEST_MAIN(TestDialogsTextFit)
#include "tst_dialogs_textfit.moc"
