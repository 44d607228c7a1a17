#include "jet/demo/DemoDatabase.h"

#include "config/mdlEncode.h"
#include "jet/writer/Writer.h"

#include <QDateTime>
#include <QStringList>

namespace jetdemo {

namespace {

using jet::Column;
using jet::ColumnType;

// A fixed pseudo-random sequence, so the demo file is the same on every build.
class Sequence
{
public:
    explicit Sequence(quint32 seed) : m_state(seed) {}
    quint32 next()
    {
        m_state = m_state * 1103515245u + 12345u;
        return (m_state >> 8) & 0xFFFFFF;
    }
    int below(int n) { return int(next() % quint32(n)); }
    template <typename T> const T& pick(const QList<T>& list) { return list[below(int(list.size()))]; }

private:
    quint32 m_state;
};

const QStringList kSurnames = {QStringLiteral("王"), QStringLiteral("李"), QStringLiteral("张"),
                               QStringLiteral("刘"), QStringLiteral("陈"), QStringLiteral("杨"),
                               QStringLiteral("赵"), QStringLiteral("黄"), QStringLiteral("周"),
                               QStringLiteral("吴"), QStringLiteral("徐"), QStringLiteral("孙"),
                               QStringLiteral("胡"), QStringLiteral("朱"), QStringLiteral("高"),
                               QStringLiteral("林"), QStringLiteral("何"), QStringLiteral("郭")};
const QStringList kGivenNames = {
    QStringLiteral("伟"), QStringLiteral("芳"),   QStringLiteral("娜"),   QStringLiteral("秀英"),
    QStringLiteral("敏"), QStringLiteral("静"),   QStringLiteral("丽"),   QStringLiteral("强"),
    QStringLiteral("磊"), QStringLiteral("军"),   QStringLiteral("洋"),   QStringLiteral("勇"),
    QStringLiteral("艳"), QStringLiteral("杰"),   QStringLiteral("娟"),   QStringLiteral("涛"),
    QStringLiteral("明"), QStringLiteral("超"),   QStringLiteral("秀兰"), QStringLiteral("霞"),
    QStringLiteral("平"), QStringLiteral("建华"), QStringLiteral("志强"), QStringLiteral("晓东")};
const QStringList kCities = {QStringLiteral("北京"), QStringLiteral("上海"), QStringLiteral("广州"),
                             QStringLiteral("深圳"), QStringLiteral("杭州"), QStringLiteral("南京"),
                             QStringLiteral("成都"), QStringLiteral("武汉"), QStringLiteral("西安"),
                             QStringLiteral("苏州"), QStringLiteral("天津"), QStringLiteral("重庆")};
// The province (or municipality) of each city above, in the same order.
const QStringList kProvinces = {QStringLiteral("北京市"), QStringLiteral("上海市"), QStringLiteral("广东省"),
                                QStringLiteral("广东省"), QStringLiteral("浙江省"), QStringLiteral("江苏省"),
                                QStringLiteral("四川省"), QStringLiteral("湖北省"), QStringLiteral("陕西省"),
                                QStringLiteral("江苏省"), QStringLiteral("天津市"), QStringLiteral("重庆市")};
const QStringList kDistricts = {QStringLiteral("朝阳区建国路"),   QStringLiteral("浦东新区世纪大道"),
                                QStringLiteral("天河区体育西路"), QStringLiteral("南山区科技园"),
                                QStringLiteral("西湖区文三路"),   QStringLiteral("鼓楼区中山路"),
                                QStringLiteral("高新区天府大道"), QStringLiteral("江汉区解放大道")};
const QStringList kWords = {QStringLiteral("华信"), QStringLiteral("宏达"),   QStringLiteral("远景"),
                            QStringLiteral("东方"), QStringLiteral("恒通"),   QStringLiteral("金桥"),
                            QStringLiteral("瑞丰"), QStringLiteral("新世纪"), QStringLiteral("中科"),
                            QStringLiteral("长城"), QStringLiteral("天元"),   QStringLiteral("博远")};
const QStringList kIndustries = {QStringLiteral("软件"), QStringLiteral("贸易"), QStringLiteral("制造"),
                                 QStringLiteral("物流"), QStringLiteral("医药"), QStringLiteral("教育"),
                                 QStringLiteral("建筑"), QStringLiteral("咨询")};
const QStringList kSuffixes = {QStringLiteral("有限公司"), QStringLiteral("股份有限公司"),
                               QStringLiteral("科技有限公司"), QStringLiteral("集团")};
const QStringList kTitles = {QStringLiteral("总经理"),   QStringLiteral("采购经理"),
                             QStringLiteral("技术总监"), QStringLiteral("财务主管"),
                             QStringLiteral("销售代表"), QStringLiteral("行政助理")};
const QStringList kDepartments = {QStringLiteral("销售部"), QStringLiteral("市场部"),
                                  QStringLiteral("客服部"), QStringLiteral("技术部")};
// Customer levels from 1 (key customer) to 5 (occasional), most in the middle.
const QList<int> kCustomerLevels = {1, 2, 2, 3, 3, 3, 3, 4, 4, 5};
// The activity types the schema script names.
const QStringList kActivityTypes = {QStringLiteral("Call"), QStringLiteral("Visit"), QStringLiteral("Mail"),
                                    QStringLiteral("Meeting"), QStringLiteral("Other")};
const QStringList kSubjects = {QStringLiteral("初次联系，介绍产品"), QStringLiteral("需求调研"),
                               QStringLiteral("产品演示"),           QStringLiteral("商务报价"),
                               QStringLiteral("合同条款沟通"),       QStringLiteral("售后回访"),
                               QStringLiteral("续约洽谈"),           QStringLiteral("年度合作总结")};
const QStringList kNotes = {QStringLiteral("客户对价格比较敏感，需要准备详细的报价方案。"),
                            QStringLiteral("对方希望下周安排现场演示，并邀请技术负责人参加。"),
                            QStringLiteral("已发送产品资料和案例，等待客户反馈。"),
                            QStringLiteral("客户提出了数据导入和权限管理方面的问题，已记录并转交技术部。"),
                            QStringLiteral("沟通顺利，客户有意向签订一年期合同。")};

QString personName(Sequence& seq)
{
    return seq.pick(kSurnames) + seq.pick(kGivenNames);
}

QString mobile(Sequence& seq)
{
    return QStringLiteral("13%1%2").arg(seq.below(10)).arg(seq.below(100000000), 8, 10, QLatin1Char('0'));
}

} // namespace

bool WriteDemoDatabase(const QString& path, QString* error)
{
    jet::Writer w(path);
    // The same password every connection to a single-user file carries.
    w.setPassword(mdlEncode::UnscrambleText(mdlEncode::kScrambledFilePassword, mdlEncode::kFileKey, true));
    w.setCreationDate(QDateTime(QDate(2024, 6, 1), QTime(9, 0)));
    // seq gives the columns of the first single-user version, later the
    // columns that the versions after it added: the rows of the older
    // columns stay the same whatever the newer ones hold.
    Sequence seq(20240601u);
    Sequence later(20240615u);
    const QDateTime base(QDate(2023, 1, 3), QTime(9, 0));
    // When the demo data was last worked with: the last logins lie before it.
    const QDateTime lastUse(QDate(2024, 5, 31), QTime(8, 30));

    // The tables that the conversion moves, with the columns of the newest
    // schema (OVScriptEmpty.txt, then the version blocks of
    // OVScriptUpdate.txt up to kDemoVersion, whose added columns come last),
    // and tblVarible: NVARCHAR up to 255 as text, longer ones as memo, INT as
    // long integer.
    w.addTable(QStringLiteral("tblVarible"), {{QStringLiteral("Module"), ColumnType::Text, 50},
                                              {QStringLiteral("VaribleName"), ColumnType::Text, 100},
                                              {QStringLiteral("VaribleValue"), ColumnType::Text, 255},
                                              {QStringLiteral("UserID"), ColumnType::Text, 50}});
    w.addRow(QStringLiteral("tblVarible"),
             {QStringLiteral("DB"), QStringLiteral("Version"), kDemoVersion, QString()});
    w.addRow(QStringLiteral("tblVarible"), {QStringLiteral("System"), QStringLiteral("CompanyName"),
                                            QStringLiteral("演示公司"), QString()});
    w.addRow(QStringLiteral("tblVarible"), {QStringLiteral("System"), QStringLiteral("PageSize"),
                                            QStringLiteral("50"), QStringLiteral("1")});
    w.addRow(QStringLiteral("tblVarible"),
             {QStringLiteral("System"), QStringLiteral("RemindDays"), QStringLiteral("3"), QString()});

    const int users = 8;
    w.addTable(QStringLiteral("tblUser"), {{QStringLiteral("UserID"), ColumnType::Long},
                                           {QStringLiteral("LoginName"), ColumnType::Text, 50},
                                           {QStringLiteral("UserName"), ColumnType::Text, 50},
                                           {QStringLiteral("Passwd"), ColumnType::Text, 64},
                                           {QStringLiteral("Department"), ColumnType::Text, 50},
                                           {QStringLiteral("Phone"), ColumnType::Text, 50},
                                           {QStringLiteral("IsAdmin"), ColumnType::Long},
                                           {QStringLiteral("IsDisabled"), ColumnType::Long},
                                           {QStringLiteral("CreateDate"), ColumnType::DateTime},
                                           {QStringLiteral("Email"), ColumnType::Text, 100},
                                           {QStringLiteral("LastLoginDate"), ColumnType::DateTime}});
    for (int i = 1; i <= users; ++i) {
        const QString login = i == 1 ? QStringLiteral("admin") : QStringLiteral("user%1").arg(i);
        const bool disabled = i == users;
        // The disabled user last came in months ago, the others in the last weeks.
        const QDateTime lastLogin = lastUse.addDays(-(disabled ? 120 + later.below(60) : later.below(21)))
                                        .addSecs(later.below(9 * 3600));
        w.addRow(QStringLiteral("tblUser"),
                 {i, login, personName(seq), QVariant(), kDepartments[i % kDepartments.size()],
                  QStringLiteral("010-6%1").arg(5550000 + i), i == 1 ? 1 : 0, disabled ? 1 : 0,
                  base.addDays(i), login + QStringLiteral("@demo.example.com.cn"), lastLogin});
    }

    const int companies = 60;
    w.addTable(QStringLiteral("tblCompany"), {{QStringLiteral("CompanyID"), ColumnType::Long},
                                              {QStringLiteral("CompanyName"), ColumnType::Text, 100},
                                              {QStringLiteral("ShortName"), ColumnType::Text, 50},
                                              {QStringLiteral("Industry"), ColumnType::Text, 50},
                                              {QStringLiteral("Address"), ColumnType::Text, 200},
                                              {QStringLiteral("City"), ColumnType::Text, 50},
                                              {QStringLiteral("PostCode"), ColumnType::Text, 20},
                                              {QStringLiteral("Phone"), ColumnType::Text, 50},
                                              {QStringLiteral("Fax"), ColumnType::Text, 50},
                                              {QStringLiteral("WebSite"), ColumnType::Text, 100},
                                              {QStringLiteral("OwnerUserID"), ColumnType::Long},
                                              {QStringLiteral("CreateDate"), ColumnType::DateTime},
                                              {QStringLiteral("Remark"), ColumnType::Memo},
                                              {QStringLiteral("Province"), ColumnType::Text, 50},
                                              {QStringLiteral("CustomerLevel"), ColumnType::Long}});
    for (int i = 1; i <= companies; ++i) {
        const QString city = seq.pick(kCities);
        const QString word = seq.pick(kWords);
        const QString industry = seq.pick(kIndustries);
        const QString phone =
            QStringLiteral("0%1-%2").arg(10 + seq.below(90)).arg(60000000 + seq.below(30000000));
        QVariant remark; // every fourth company without a remark
        if (i % 4 != 0)
            remark = seq.pick(kNotes) + seq.pick(kNotes);
        const int level = later.pick(kCustomerLevels);
        w.addRow(QStringLiteral("tblCompany"),
                 {i, city + word + industry + seq.pick(kSuffixes), word + industry, industry,
                  city + QStringLiteral("市") + seq.pick(kDistricts) +
                      QStringLiteral("%1号").arg(1 + seq.below(300)),
                  city, QStringLiteral("%1").arg(100000 + seq.below(800000)), phone,
                  i % 3 == 0 ? QVariant() : QVariant(phone.left(phone.size() - 1) + QLatin1Char('9')),
                  i % 2 == 0 ? QVariant() : QVariant(QStringLiteral("https://www.example%1.com.cn").arg(i)),
                  1 + seq.below(users), base.addDays(10 + i * 3).addSecs(seq.below(28800)), remark,
                  kProvinces[kCities.indexOf(city)], level});
    }

    const int contacts = 150;
    w.addTable(QStringLiteral("tblContact"), {{QStringLiteral("ContactID"), ColumnType::Long},
                                              {QStringLiteral("CompanyID"), ColumnType::Long},
                                              {QStringLiteral("ContactName"), ColumnType::Text, 50},
                                              {QStringLiteral("Gender"), ColumnType::Text, 10},
                                              {QStringLiteral("Title"), ColumnType::Text, 50},
                                              {QStringLiteral("Department"), ColumnType::Text, 50},
                                              {QStringLiteral("Phone"), ColumnType::Text, 50},
                                              {QStringLiteral("Mobile"), ColumnType::Text, 50},
                                              {QStringLiteral("Email"), ColumnType::Text, 100},
                                              {QStringLiteral("Birthday"), ColumnType::DateTime},
                                              {QStringLiteral("OwnerUserID"), ColumnType::Long},
                                              {QStringLiteral("CreateDate"), ColumnType::DateTime},
                                              {QStringLiteral("Remark"), ColumnType::Memo}});
    for (int i = 1; i <= contacts; ++i) {
        const int company = 1 + (i - 1) % companies;
        w.addRow(QStringLiteral("tblContact"),
                 {i, company, personName(seq), seq.below(2) ? QStringLiteral("男") : QStringLiteral("女"),
                  seq.pick(kTitles), seq.pick(kDepartments),
                  i % 3 == 0 ? QVariant() : QVariant(QStringLiteral("0755-8%1").arg(6000000 + i)),
                  mobile(seq), QStringLiteral("contact%1@example.com").arg(i),
                  i % 5 == 0 ? QVariant()
                             : QVariant(QDate(1960 + seq.below(40), 1 + seq.below(12), 1 + seq.below(28))),
                  1 + seq.below(users), base.addDays(12 + i * 2),
                  i % 7 == 0 ? QVariant(seq.pick(kNotes)) : QVariant()});
    }

    const int activities = 250;
    w.addTable(QStringLiteral("tblActivity"), {{QStringLiteral("ActivityID"), ColumnType::Long},
                                               {QStringLiteral("CompanyID"), ColumnType::Long},
                                               {QStringLiteral("ContactID"), ColumnType::Long},
                                               {QStringLiteral("UserID"), ColumnType::Long},
                                               {QStringLiteral("ActivityType"), ColumnType::Text, 20},
                                               {QStringLiteral("Subject"), ColumnType::Text, 200},
                                               {QStringLiteral("ActivityDate"), ColumnType::DateTime},
                                               {QStringLiteral("Notes"), ColumnType::Memo},
                                               {QStringLiteral("IsDone"), ColumnType::Long},
                                               {QStringLiteral("DueDate"), ColumnType::DateTime},
                                               {QStringLiteral("Priority"), ColumnType::Long}});
    for (int i = 1; i <= activities; ++i) {
        const int contact = 1 + seq.below(contacts);
        const int company = 1 + (contact - 1) % companies;
        QString notes = seq.pick(kNotes);
        for (int k = seq.below(3); k > 0; --k)
            notes += QStringLiteral("\r\n") + seq.pick(kNotes);
        const int user = 1 + seq.below(users);
        const QString type = seq.pick(kActivityTypes);
        const QString subject = seq.pick(kSubjects);
        const QDateTime date = base.addDays(30 + i).addSecs(3600 * seq.below(9));
        // The last activities are still open: each is due a few days after
        // it was planned, at the end of a working day. Priorities run from
        // 1 (high) to 3 (low).
        const bool done = i < 220;
        const QVariant due =
            done ? QVariant() : QVariant(QDateTime(date.date().addDays(1 + later.below(14)), QTime(17, 30)));
        w.addRow(QStringLiteral("tblActivity"), {i, company, contact, user, type, subject, date, notes,
                                                 done ? 1 : 0, due, 1 + later.below(3)});
    }

    return w.save(error);
}

} // namespace jetdemo
