#include "app/qt/CompressorSettingsDlg.h"

#include "app/qt/BackgroundTask.h"
#include "app/qt/FormRows.h"
#include "app/qt/UiMessages.h"
#include "recording/CompressorState.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

namespace {

bool Editable(const GParamSpec* param) {
    const std::string name = g_param_spec_get_name(const_cast<GParamSpec*>(param));
    return (param->flags & G_PARAM_READABLE) && (param->flags & G_PARAM_WRITABLE) &&
           !(param->flags & G_PARAM_CONSTRUCT_ONLY) && name != "name" && name != "parent";
}

// An integer property whose range fits a spin box.
bool IntRange(const GParamSpec* param, int& minimum, int& maximum) {
    constexpr int64_t kLow = std::numeric_limits<int>::min();
    constexpr int64_t kHigh = std::numeric_limits<int>::max();
    int64_t low = 0;
    int64_t high = 0;
    if (G_IS_PARAM_SPEC_INT(param)) {
        low = G_PARAM_SPEC_INT(param)->minimum;
        high = G_PARAM_SPEC_INT(param)->maximum;
    } else if (G_IS_PARAM_SPEC_UINT(param)) {
        low = G_PARAM_SPEC_UINT(param)->minimum;
        high = G_PARAM_SPEC_UINT(param)->maximum;
    } else {
        return false;
    }
    if (low < kLow || high > kHigh) {
        return false;
    }
    minimum = static_cast<int>(low);
    maximum = static_cast<int>(high);
    return true;
}

} // namespace

CCompressorSettingsDlg::CCompressorSettingsDlg(const std::string& compressor, const QString& friendlyName,
                                               const std::vector<uint8_t>& state, QWidget* parent)
    : QDialog(parent), m_state(state) {
    setWindowTitle(QString("%1 Settings").arg(friendlyName));
    m_status = new QLabel("Loading the encoder...", this);
    m_status->setWordWrap(true);
    auto* fields = new QWidget;
    m_form = new QFormLayout(fields);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(fields);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCompressorSettingsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CCompressorSettingsDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(scroll, 1);
    layout->addWidget(buttons);
    resize(520, 480);

    BackgroundTask::Run(
        this,
        [compressor, state]() -> std::pair<GstElement*, QStringList> {
            GstElement* encoder = gst_element_factory_make(compressor.c_str(), nullptr);
            QStringList problems;
            if (encoder != nullptr) {
                gst_object_ref_sink(encoder);
                for (const std::string& problem : CCompressorState::Restore(encoder, state)) {
                    problems << QString::fromStdString(problem);
                }
            }
            return {encoder, problems};
        },
        [](CCompressorSettingsDlg& dialog, std::pair<GstElement*, QStringList> result) {
            dialog.ShowEncoder(result.first, result.second);
        });
}

CCompressorSettingsDlg::~CCompressorSettingsDlg() {
    if (m_encoder != nullptr) {
        gst_object_unref(m_encoder);
    }
}

void CCompressorSettingsDlg::ShowEncoder(GstElement* encoder, const QStringList& problems) {
    m_encoder = encoder;
    if (encoder == nullptr) {
        m_status->setText("The encoder cannot be created: its settings cannot be edited.");
        emit EncoderReady();
        return;
    }
    m_status->setText(problems.isEmpty()
                          ? QString("Settings that differ from the encoder's defaults are kept.")
                          : "Parts of the stored settings do not apply: " + problems.join("; "));
    guint count = 0;
    GParamSpec** params = g_object_class_list_properties(G_OBJECT_GET_CLASS(encoder), &count);
    for (guint i = 0; i < count; ++i) {
        GParamSpec* param = params[i];
        if (!Editable(param)) {
            continue;
        }
        GValue value = G_VALUE_INIT;
        g_value_init(&value, param->value_type);
        g_object_get_property(G_OBJECT(encoder), param->name, &value);
        QWidget* editor = nullptr;
        int minimum = 0;
        int maximum = 0;
        if (param->value_type == G_TYPE_BOOLEAN) {
            auto* box = new QCheckBox(this);
            box->setChecked(g_value_get_boolean(&value));
            editor = box;
        } else if (G_IS_PARAM_SPEC_ENUM(param)) {
            auto* combo = new QComboBox(this);
            GEnumClass* enumClass = G_PARAM_SPEC_ENUM(param)->enum_class;
            for (guint v = 0; v < enumClass->n_values; ++v) {
                combo->addItem(QString::fromUtf8(enumClass->values[v].value_nick),
                               enumClass->values[v].value);
            }
            combo->setCurrentIndex(std::max(0, combo->findData(g_value_get_enum(&value))));
            editor = combo;
        } else if (IntRange(param, minimum, maximum)) {
            auto* spin = new QSpinBox(this);
            spin->setRange(minimum, maximum);
            spin->setValue(G_IS_PARAM_SPEC_INT(param) ? g_value_get_int(&value)
                                                     : static_cast<int>(g_value_get_uint(&value)));
            editor = spin;
        } else {
            gchar* text = gst_value_serialize(&value);
            auto* edit = new QLineEdit(text ? QString::fromUtf8(text) : QString(), this);
            g_free(text);
            editor = edit;
        }
        g_value_unset(&value);
        editor->setObjectName(QString::fromUtf8(param->name));
        editor->setToolTip(
            QString::fromUtf8(g_param_spec_get_blurb(param) ? g_param_spec_get_blurb(param) : ""));
        m_form->addRow(FormRows::Literal(QString::fromUtf8(g_param_spec_get_nick(param))) + ":", editor);
        m_rows.push_back(Row{param, editor});
    }
    g_free(params); // the array only: its entries belong to the class
    emit EncoderReady();
}

QWidget* CCompressorSettingsDlg::Editor(const QString& property) const {
    for (const Row& row : m_rows) {
        if (row.editor->objectName() == property) {
            return row.editor;
        }
    }
    return nullptr;
}

bool CCompressorSettingsDlg::ApplyEditors(QString& message) {
    for (const Row& row : m_rows) {
        GValue value = G_VALUE_INIT;
        g_value_init(&value, row.param->value_type);
        bool ok = true;
        if (auto* box = qobject_cast<QCheckBox*>(row.editor)) {
            g_value_set_boolean(&value, box->isChecked());
        } else if (auto* combo = qobject_cast<QComboBox*>(row.editor)) {
            g_value_set_enum(&value, combo->currentData().toInt());
        } else if (auto* spin = qobject_cast<QSpinBox*>(row.editor)) {
            if (G_IS_PARAM_SPEC_INT(row.param)) {
                g_value_set_int(&value, spin->value());
            } else {
                g_value_set_uint(&value, static_cast<guint>(spin->value()));
            }
        } else if (auto* edit = qobject_cast<QLineEdit*>(row.editor)) {
            ok = gst_value_deserialize(&value, edit->text().toUtf8().constData()) &&
                 !g_param_value_validate(row.param, &value);
        }
        if (!ok) {
            g_value_unset(&value);
            message = QString("The value of '%1' is not valid.")
                          .arg(QString::fromUtf8(g_param_spec_get_nick(row.param)));
            return false;
        }
        g_object_set_property(G_OBJECT(m_encoder), row.param->name, &value);
        g_value_unset(&value);
    }
    return true;
}

void CCompressorSettingsDlg::accept() {
    if (m_encoder == nullptr) {
        QDialog::reject(); // nothing could be edited: the stored state stays
        return;
    }
    QString message;
    if (!ApplyEditors(message)) {
        UiMessages::ShowWarning(this, message);
        return;
    }
    m_state = CCompressorState::SaveBytes(m_encoder);
    QDialog::accept();
}
