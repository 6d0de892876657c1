#pragma once

#include "model/Snip.h"

#include <QWidget>

#include <optional>

class CoalescedRefresh;
class CollectionStore;
class ImageShareStore;
class QLabel;
class QPushButton;

// The capture panel's share controls for the snip the panel shows, with the links sheet.
class ShareControls : public QWidget {
    Q_OBJECT

public:
    ShareControls(ImageShareStore *sharing, CollectionStore *store, QWidget *parent = nullptr);
    ~ShareControls() override;

    // The snip the panel shows now; none hides the controls' snip actions.
    void setSnip(const std::optional<Snip> &snip);

private:
    void refresh();

    ImageShareStore *m_sharing;
    CollectionStore *m_store;
    std::optional<Snip> m_snip;
    CoalescedRefresh *m_refresh;
    QLabel *m_hint;
    QWidget *m_busy;
    QLabel *m_link;
    QLabel *m_failure;
    QLabel *m_notice;
    QPushButton *m_signIn;
    QPushButton *m_share;
    QPushButton *m_copy;
    QPushButton *m_revoke;
    QPushButton *m_allLinks;
};
