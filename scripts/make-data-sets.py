#!/usr/bin/env python3
"""Writes the shipped data sets dist/DBDataFiles/Blank and dist/DBDataFiles/Demo.

Each data set is a folder with tables.txt (the tables to load, in load order)
and one TABLE.dat per table: fields separated by a tab, rows ended by CR LF,
text in code page 936, columns in the order of dist/OVScriptEmpty.txt (the
schema at version "0", which the rows are loaded into before the update script
runs). An empty field loads as NULL.

Blank holds what every new installation needs: the version row "DB"/"Version"
= "0", the administrator and the lookup values. Demo adds the customers of a
sample company (a Shanghai software vendor): its staff, customer companies,
their contacts and the contact history. The rows come from a fixed seed, so
running the script again writes the same files.

    python3 scripts/make-data-sets.py [DIST_FOLDER]
"""

import os
import random
import sys

DIST = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "dist")
rng = random.Random(20261210)


def write_table(folder, table, rows):
    lines = []
    for row in rows:
        fields = ["" if v is None else str(v) for v in row]
        for f in fields:
            assert "\t" not in f and "\r" not in f and "\n" not in f, f
        lines.append("\t".join(fields) + "\r\n")
    with open(os.path.join(folder, table + ".dat"), "wb") as out:
        out.write("".join(lines).encode("gbk"))


def write_set(name, tables):
    folder = os.path.join(DIST, "DBDataFiles", name)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        if old.endswith((".dat", ".log", ".err")) or old == "tables.txt":
            os.remove(os.path.join(folder, old))
    with open(os.path.join(folder, "tables.txt"), "wb") as out:
        out.write("".join(t + "\r\n" for t, _ in tables).encode("gbk"))
    for table, rows in tables:
        write_table(folder, table, rows)
    print(f"{name}: " + ", ".join(f"{t} {len(r)}" for t, r in tables))


def stamp(y, m, d, hh=9, mm=0, ss=0):
    return f"{y:04d}-{m:02d}-{d:02d} {hh:02d}:{mm:02d}:{ss:02d}"


# ---------------------------------------------------------------- lookups
INDUSTRIES = ["制造业", "批发零售", "信息技术", "金融保险", "房地产", "建筑工程", "交通物流",
              "教育培训", "医疗卫生", "餐饮酒店", "能源化工", "政府机关", "其他"]
ACTIVITY_TYPES = [("Call", "电话"), ("Visit", "拜访"), ("Mail", "邮件"), ("Meeting", "会议"), ("Other", "其他")]
TITLES = ["总经理", "副总经理", "财务总监", "技术总监", "部门经理", "采购经理", "项目经理",
          "工程师", "销售代表", "行政助理", "会计", "信息主管"]
DEPARTMENTS = ["总经办", "销售部", "市场部", "技术部", "财务部", "行政部", "采购部", "信息中心", "客服部"]
SOURCES = ["展会", "网站咨询", "老客户介绍", "电话营销", "合作伙伴", "招标信息"]
STAGES = [("Lead", "线索"), ("Qualified", "确认"), ("Proposal", "方案"), ("Won", "成交"), ("Lost", "失败")]
PHONE_TYPES = [("Office", "办公"), ("Mobile", "手机"), ("Home", "住宅"), ("Fax", "传真")]


def variables(extra=()):
    rows = [("DB", "Version", "0", "")]
    for i, v in enumerate(INDUSTRIES, 1):
        rows.append(("Lookup", f"Industry.{i:02d}", v, ""))
    for code, v in ACTIVITY_TYPES:
        rows.append(("Lookup", f"ActivityType.{code}", v, ""))
    for i, v in enumerate(TITLES, 1):
        rows.append(("Lookup", f"Title.{i:02d}", v, ""))
    for i, v in enumerate(DEPARTMENTS, 1):
        rows.append(("Lookup", f"Department.{i:02d}", v, ""))
    for i, v in enumerate(SOURCES, 1):
        rows.append(("Lookup", f"Source.{i:02d}", v, ""))
    for code, v in STAGES:
        rows.append(("Lookup", f"Stage.{code}", v, ""))
    for code, v in PHONE_TYPES:
        rows.append(("Lookup", f"PhoneType.{code}", v, ""))
    rows.append(("Lookup", "Gender.1", "男", ""))
    rows.append(("Lookup", "Gender.2", "女", ""))
    rows += list(extra)
    return rows


ADMIN = (1, "admin", "系统管理员", "", "信息中心", "", 1, 0, stamp(2026, 1, 5, 9, 0, 0))

# ---------------------------------------------------------------- Blank
write_set("Blank", [("tblVarible", variables()), ("tblUser", [ADMIN])])

# ---------------------------------------------------------------- Demo
SURNAMES = [("王", "wang"), ("李", "li"), ("张", "zhang"), ("刘", "liu"), ("陈", "chen"), ("杨", "yang"),
            ("黄", "huang"), ("赵", "zhao"), ("吴", "wu"), ("周", "zhou"), ("徐", "xu"), ("孙", "sun"),
            ("马", "ma"), ("朱", "zhu"), ("胡", "hu"), ("郭", "guo"), ("何", "he"), ("林", "lin"),
            ("罗", "luo"), ("高", "gao"), ("郑", "zheng"), ("梁", "liang"), ("谢", "xie"), ("宋", "song"),
            ("唐", "tang"), ("许", "xu"), ("韩", "han"), ("冯", "feng"), ("邓", "deng"), ("曹", "cao"),
            ("彭", "peng"), ("曾", "zeng"), ("萧", "xiao"), ("田", "tian"), ("董", "dong"), ("潘", "pan"),
            ("袁", "yuan"), ("蒋", "jiang"), ("蔡", "cai"), ("余", "yu"), ("杜", "du"), ("叶", "ye"),
            ("程", "cheng"), ("魏", "wei"), ("苏", "su"), ("吕", "lv"), ("丁", "ding"), ("沈", "shen")]
GIVEN_MALE = [("伟", "wei"), ("强", "qiang"), ("磊", "lei"), ("军", "jun"), ("洋", "yang"), ("勇", "yong"),
              ("杰", "jie"), ("涛", "tao"), ("明", "ming"), ("超", "chao"), ("刚", "gang"), ("平", "ping"),
              ("辉", "hui"), ("鹏", "peng"), ("华", "hua"), ("飞", "fei"), ("斌", "bin"), ("宇", "yu"),
              ("浩", "hao"), ("凯", "kai"), ("建国", "jianguo"), ("志强", "zhiqiang"), ("海峰", "haifeng"),
              ("俊杰", "junjie"), ("文博", "wenbo"), ("晓东", "xiaodong"), ("国庆", "guoqing"),
              ("永刚", "yonggang"), ("子豪", "zihao"), ("家明", "jiaming")]
GIVEN_FEMALE = [("芳", "fang"), ("娜", "na"), ("敏", "min"), ("静", "jing"), ("丽", "li"), ("艳", "yan"),
                ("娟", "juan"), ("霞", "xia"), ("婷", "ting"), ("雪", "xue"), ("琳", "lin"), ("颖", "ying"),
                ("倩", "qian"), ("洁", "jie"), ("玲", "ling"), ("晓燕", "xiaoyan"), ("丽华", "lihua"),
                ("秀英", "xiuying"), ("雅琴", "yaqin"), ("佳怡", "jiayi"), ("思雨", "siyu"),
                ("梦洁", "mengjie"), ("海燕", "haiyan"), ("慧敏", "huimin")]

CITIES = [  # city, area code, post code prefix, districts, roads
    ("上海", "021", "200", ["浦东新区", "徐汇区", "闵行区", "静安区", "杨浦区", "嘉定区"],
     ["张江路", "漕溪北路", "虹梅路", "南京西路", "国定路", "博园路", "世纪大道", "宜山路"]),
    ("北京", "010", "100", ["海淀区", "朝阳区", "丰台区", "东城区", "大兴区"],
     ["中关村大街", "建国路", "丰台北路", "东直门南大街", "科创十三街", "学院路"]),
    ("苏州", "0512", "215", ["工业园区", "高新区", "吴中区", "相城区"],
     ["星湖街", "金山路", "东吴北路", "阳澄湖大道", "苏虹中路"]),
    ("杭州", "0571", "310", ["西湖区", "滨江区", "余杭区", "拱墅区"],
     ["文三路", "江南大道", "文一西路", "湖州街", "莫干山路"]),
    ("南京", "025", "210", ["鼓楼区", "江宁区", "建邺区", "玄武区"],
     ["中山北路", "胜太路", "江东中路", "珠江路", "龙蟠路"]),
    ("广州", "020", "510", ["天河区", "越秀区", "黄埔区", "番禺区"],
     ["天河路", "环市东路", "科学大道", "市桥大道", "体育西路"]),
    ("深圳", "0755", "518", ["南山区", "福田区", "宝安区", "龙岗区"],
     ["科技园南路", "深南大道", "宝安大道", "龙岗大道", "华强北路"]),
    ("宁波", "0574", "315", ["鄞州区", "北仑区", "江北区"],
     ["天童南路", "长江路", "大庆南路", "中山东路"]),
    ("无锡", "0510", "214", ["新吴区", "滨湖区", "梁溪区"],
     ["长江路", "太湖大道", "中山路", "蠡湖大道"]),
    ("合肥", "0551", "230", ["蜀山区", "包河区", "高新区"],
     ["长江西路", "徽州大道", "望江西路", "创新大道"]),
]
BRANDS = [("恒达", "hengda"), ("华信", "huaxin"), ("金桥", "jinqiao"), ("东方", "dongfang"), ("新世纪", "xsj"),
          ("宏远", "hongyuan"), ("博奥", "boao"), ("中天", "zhongtian"), ("鼎盛", "dingsheng"),
          ("瑞丰", "ruifeng"), ("万通", "wantong"), ("天成", "tiancheng"), ("海纳", "haina"),
          ("明德", "mingde"), ("嘉禾", "jiahe"), ("永泰", "yongtai"), ("汇通", "huitong"), ("长城", "changcheng"),
          ("正大", "zhengda"), ("联创", "lianchuang"), ("立信", "lixin"), ("凯撒", "kaisa"), ("星辰", "xingchen"),
          ("蓝天", "lantian"), ("安泰", "antai"), ("九州", "jiuzhou"), ("富源", "fuyuan"), ("华宇", "huayu"),
          ("同创", "tongchuang"), ("远航", "yuanhang"), ("盛世", "shengshi"), ("德力", "deli"), ("光华", "guanghua"),
          ("启明", "qiming"), ("银河", "yinhe"), ("国泰", "guotai"), ("中科", "zhongke"), ("锦程", "jincheng"),
          ("润泽", "runze"), ("和信", "hexin"), ("百川", "baichuan"), ("协力", "xieli"), ("飞扬", "feiyang"),
          ("卓越", "zhuoyue"), ("华美", "huamei"), ("大地", "dadi"), ("金鼎", "jinding"), ("信达", "xinda"),
          ("宝丰", "baofeng"), ("通达", "tongda"), ("新元", "xinyuan"), ("瑞华", "ruihua"), ("康健", "kangjian"),
          ("亿丰", "yifeng"), ("宏图", "hongtu"), ("环球", "huanqiu"), ("旭日", "xuri"), ("精诚", "jingcheng"),
          ("万家", "wanjia"), ("东升", "dongsheng"), ("天翼", "tianyi"), ("普惠", "puhui"), ("恒通", "hengtong"),
          ("兴业", "xingye"), ("佳和", "jiahe2"), ("鸿运", "hongyun"), ("利民", "limin"), ("龙腾", "longteng"),
          ("春晖", "chunhui"), ("四方", "sifang")]
# industry -> (name part, short-name suffix, web suffix)
INDUSTRY_NAMES = {
    "制造业": [("精密机械", "机械", "jx"), ("电子科技", "电子", "dz"), ("汽车零部件", "汽配", "qp"),
            ("包装材料", "包装", "bz"), ("模具", "模具", "mj")],
    "批发零售": [("商贸", "商贸", "sm"), ("百货", "百货", "bh"), ("贸易", "贸易", "my")],
    "信息技术": [("信息技术", "信息", "it"), ("软件", "软件", "soft"), ("网络科技", "网络", "net")],
    "金融保险": [("投资管理", "投资", "invest"), ("保险代理", "保险", "bx"), ("融资租赁", "租赁", "zl")],
    "房地产": [("房地产开发", "地产", "dc"), ("物业管理", "物业", "wy")],
    "建筑工程": [("建设工程", "建设", "js"), ("装饰工程", "装饰", "zs"), ("建材", "建材", "jc")],
    "交通物流": [("物流", "物流", "wl"), ("国际货运代理", "货代", "hy"), ("运输", "运输", "ys")],
    "教育培训": [("教育科技", "教育", "edu"), ("职业培训学校", "培训", "px")],
    "医疗卫生": [("医疗器械", "医疗", "yl"), ("医药", "医药", "yy"), ("生物科技", "生物", "bio")],
    "餐饮酒店": [("酒店管理", "酒店", "hotel"), ("餐饮管理", "餐饮", "cy")],
    "能源化工": [("化工", "化工", "hg"), ("新能源", "新能源", "ny"), ("燃气", "燃气", "rq")],
}
COMPANY_REMARKS = ["年采购额约{n}万元，关注售后服务", "集团下属子公司，决策需报总部审批",
                   "老客户，续约意向明确", "通过{src}获得的客户，正在了解需求", "对价格敏感，需准备多套报价",
                   "已使用我司产品{y}年", "计划明年扩建新厂区，有新增需求", "竞争对手正在接触，需重点跟进",
                   "", "", ""]

SALES = [  # name, login, department, phone extension
    ("王建华", "wangjh", "销售一部"), ("李晓燕", "lixy", "销售一部"), ("张伟", "zhangw", "销售一部"),
    ("陈静", "chenj", "销售二部"), ("刘洋", "liuy", "销售二部"), ("赵磊", "zhaol", "销售二部"),
    ("孙丽", "sunl", "市场部"), ("周国庆", "zhougq", "客服部")]
SALES_IDS = list(range(2, 2 + len(SALES)))
REPS = SALES_IDS[:6]  # the sales staff who own customers


def person(gender=None):
    surname, sp = rng.choice(SURNAMES)
    gender = gender or rng.choice(["男", "女"])
    given, gp = rng.choice(GIVEN_MALE if gender == "男" else GIVEN_FEMALE)
    return surname + given, sp + gp, gender


def mobile():
    return rng.choice(["138", "139", "137", "136", "135", "150", "151", "158", "186", "188", "189", "133"]) + \
        f"{rng.randrange(10000000, 99999999)}"


def rand_date(y0, m0, y1, m1):
    start = y0 * 12 + (m0 - 1)
    end = y1 * 12 + (m1 - 1)
    ym = rng.randrange(start, end + 1)
    y, m = divmod(ym, 12)
    return y, m + 1, rng.randrange(1, 29)


users = [ADMIN]
for uid, (name, login, dept) in zip(SALES_IDS, SALES):
    users.append((uid, login, name, "", dept, f"021-5080{rng.randrange(1000, 9999)}", 0, 0,
                  stamp(*rand_date(2023, 1, 2024, 6), 9, 30, 0)))

companies = []
used_names = set()
brands = BRANDS[:]
rng.shuffle(brands)
company_info = {}
cid = 0
for brand, brand_py in brands:
    for _ in range(2):
        industry = rng.choice(list(INDUSTRY_NAMES))
        part, short, web = rng.choice(INDUSTRY_NAMES[industry])
        city, area, post, districts, roads = rng.choice(CITIES)
        name = f"{city}{brand}{part}有限公司"
        if name in used_names:
            continue
        used_names.add(name)
        cid += 1
        district = rng.choice(districts)
        address = f"{district}{rng.choice(roads)}{rng.randrange(1, 1500)}号"
        if rng.random() < 0.4:
            address += f"{rng.randrange(2, 28)}楼"
        phone_base = f"{area}-{rng.randrange(5000, 8999)}{rng.randrange(1000, 9999)}"
        fax = f"{area}-{rng.randrange(5000, 8999)}{rng.randrange(1000, 9999)}" if rng.random() < 0.7 else None
        website = f"www.{brand_py}{web}.com" if rng.random() < 0.8 else None
        owner = rng.choice(REPS)
        created = rand_date(2023, 3, 2026, 6)
        remark = rng.choice(COMPANY_REMARKS).format(n=rng.randrange(20, 800), src=rng.choice(SOURCES),
                                                  y=rng.randrange(2, 9))
        companies.append((cid, name, brand + short, industry, address, city,
                          f"{post}{rng.randrange(0, 999):03d}", phone_base, fax, website, owner,
                          stamp(*created, rng.randrange(8, 18), rng.randrange(0, 60), 0), remark or None))
        company_info[cid] = {"owner": owner, "phone": phone_base, "web": website, "created": created,
                             "brand_py": brand_py + web, "name": name, "short": brand + short}

contacts = []
contacts_of = {}
CONTACT_REMARKS = ["负责设备采购", "项目决策人", "喜欢电话沟通，上午联系为宜", "技术对接人", "财务付款联系人",
                   "新任负责人，需重新建立关系", "对我司产品评价很好", "", "", "", ""]
ctid = 0
for c in companies:
    info = company_info[c[0]]
    count = rng.choice([2, 3, 3, 4, 4, 5, 6])
    roles = rng.sample(TITLES, count)
    for title in roles:
        ctid += 1
        name, py, gender = person()
        dept = {"总经理": "总经办", "副总经理": "总经办", "财务总监": "财务部", "会计": "财务部",
                "技术总监": "技术部", "工程师": "技术部", "采购经理": "采购部", "销售代表": "销售部",
                "行政助理": "行政部", "信息主管": "信息中心"}.get(title, rng.choice(DEPARTMENTS))
        domain = info["web"][4:] if info["web"] else rng.choice(["163.com", "126.com", "qq.com", "sina.com"])
        email = f"{py}@{domain}" if rng.random() < 0.85 else None
        phone = info["phone"] + (f"-{rng.randrange(801, 899)}" if rng.random() < 0.6 else "") \
            if rng.random() < 0.85 else None
        birthday = stamp(rng.randrange(1965, 1998), rng.randrange(1, 13), rng.randrange(1, 29), 0, 0, 0) \
            if rng.random() < 0.5 else None
        y, m, d = info["created"]
        created = stamp(y, m, d, rng.randrange(8, 18), rng.randrange(0, 60), 0)
        contacts.append((ctid, c[0], name, gender, title, dept, phone, mobile() if rng.random() < 0.9 else None,
                         email, birthday, info["owner"], created, rng.choice(CONTACT_REMARKS) or None))
        contacts_of.setdefault(c[0], []).append((ctid, name, title))

PRODUCTS = ["Orvane客户管理软件", "进销存系统", "财务接口模块", "移动销售助手", "数据分析报表", "呼叫中心模块"]
SUBJECTS = {
    "Call": ["电话回访：了解{p}使用情况", "电话沟通报价细节", "确认{p}演示时间", "催收第{n}期款项",
             "电话了解新年度预算", "处理{p}登录问题"],
    "Visit": ["上门拜访{t}，介绍{p}", "现场调研业务流程", "拜访客户并送达合同", "上门培训{p}操作",
              "陪同技术人员现场实施"],
    "Mail": ["发送{p}报价单", "邮件发送产品资料", "寄送合同及发票", "发送实施方案初稿", "邮件确认培训安排"],
    "Meeting": ["{p}方案评审会", "项目启动会", "季度业务回顾会", "合同商务谈判", "验收会议"],
    "Other": ["邀请参加新品发布会", "赠送节日礼品", "客户来访接待", "参加客户年会"],
}
NOTES_DONE = ["客户反馈良好，下周再跟进", "对方表示需内部讨论后答复", "已确认需求，准备方案",
              "客户提出价格偏高，需申请折扣", "问题已解决，客户满意", "约定下月再次拜访",
              "对方负责人出差，改期联系", "已发送相关资料，等待回复", "", ""]
NOTES_OPEN = ["待确认时间", "需提前准备演示环境", "带上最新报价", "", ""]

activities = []
aid = 0
NOW = (2026, 12, 10)
for c in companies:
    info = company_info[c[0]]
    people = contacts_of[c[0]]
    count = rng.randrange(4, 18)
    for _ in range(count):
        aid += 1
        contact_id, cname, ctitle = rng.choice(people)
        kind = rng.choices([k for k, _ in ACTIVITY_TYPES], weights=[45, 20, 20, 10, 5])[0]
        subject = rng.choice(SUBJECTS[kind]).format(p=rng.choice(PRODUCTS), t=ctitle, n=rng.randrange(2, 5))
        y, m, d = rand_date(max(info["created"][0], 2025), 1, 2027, 2)
        when = (y, m, d)
        done = 1 if when < NOW else 0
        if done and rng.random() < 0.05:
            done = 0  # overdue
        hh = rng.choice([9, 10, 11, 14, 15, 16])
        notes = rng.choice(NOTES_DONE if done else NOTES_OPEN)
        user = info["owner"] if rng.random() < 0.85 else rng.choice(SALES_IDS)
        activities.append((aid, c[0], contact_id, user, kind, subject,
                           stamp(y, m, d, hh, rng.choice([0, 15, 30, 45]), 0), notes or None, done))

demo_vars = variables([("System", "DemoCompany", "上海奥维信息技术有限公司", "")])
write_set("Demo", [("tblVarible", demo_vars), ("tblUser", users), ("tblCompany", companies),
                   ("tblContact", contacts), ("tblActivity", activities)])
