#!/usr/bin/env python3
"""Writes the sample text files: the main table (Veltrane_Desktop.txt, plain cells and
tagged R, P and N cells) and the duty roster (Veltrane_Desktop.duty.txt) in schedule form, six weeks from
2026-11-30 (or the given start day) with a day and a night pharmacist and infectious-disease
physician every day.
The files hold the format's control characters (U+001F between fields, U+001E between
list items), so they are made by this script rather than by hand.

    content/sample/make_text.py [output folder [start day YYYY-MM-DD]]
"""
import datetime
import os
import sys

F, I = "\x1f", "\x1e"

START = datetime.date(2026, 11, 30)
DAYS = 43  # the start day only precedes the first day shown

PHARMACISTS = ["김지현", "박서준", "이하은", "정민재", "최수아", "강도윤", "윤서연"]
PHYSICIANS = ["이수민", "한지호", "오예린", "서태웅", "문가은"]


def roster(mark, name, off=False):
    return F.join(["N", mark, "1" if off else "0", name])


def person(name, extra):
    return "P" + F + name + F + extra


def people(*pairs):
    return "P" + F + I.join(name + F + extra for name, extra in pairs)


def away(label):
    # A roster entry without a name: its label alone, dimmed.
    return roster("", label, off=True)


def small(text):
    return "R" + F + text


# Five columns of eight cells; every cell is one line of the table, filled column by column
# (a column's list may run on into the next, as the approval lists do).
MAIN = [
    small("항생제 관리팀 (평일 08-17시)"),
    person("김지현", "팀장 2231"),
    person("박서준", "약사 2232"),
    person("이하은", "약사 2233"),
    away("정민재 약사 (휴가)"),
    person("최유나", "간호사 2240"),
    person("오세훈", "전산 1190"),
    people(("평일", "08-17"), ("토", "08-12")),
    small("감염내과 자문 (요일별)"),
    person("이수민", "월 2245"),
    person("한지호", "화 2246"),
    person("오예린", "수 2247"),
    person("서태웅", "목 2248"),
    person("문가은", "금 2249"),
    away("토 · 일: 당직 전문의"),
    people(("회신", "24h"), ("응급", "즉시")),
    small("사전 승인 항생제"),
    "Meropenem",
    "Imipenem/cilastatin",
    "Teicoplanin",
    "Amikacin",
    small("감염내과 승인 항생제"),
    "Linezolid · Tedizolid",
    "Colistin",
    "Tigecycline",
    away("Doripenem (공급 중단)"),
    small("미생물 검사실"),
    person("배양", "내선 3310"),
    person("감수성", "내선 3312"),
    person("CRE 선별", "내선 3315"),
    person("주말", "내선 3300"),
    people(("결과", "48h"), ("혈액", "72h")),
    small("문의 · 안내"),
    "T" + F + "야간: 당직 약사",
    small("처방 문의는 OCS 쪽지"),
    "T" + F + "자문 의뢰: EMR",
    small("TDM 채혈 시간 준수"),
    "T" + F + "검체는 항생제 전 채취",
    "감염관리실 2250 · 격리 2251",
    small("2026년 12월 개정"),
]

MAIN_STYLE = """columns=5
font_size=22
row_height=32
padding_x=40
padding_y=14
text_color=1A237E
box_color=FFFFFF
box_gap=14
box_alpha=235
image_alpha=245
bold=off
"""

DUTY_STYLE = """font_size=24
row_height=44
padding_x=40
padding_y=12
text_color=3E2723
box_color=FFF3E0
box_gap=12
box_alpha=240
bold=on
"""


def duty_lines(start):
    lines = ["H" + F + start.isoformat() + F + str(DAYS)]
    for k in range(1, DAYS):
        day = start + datetime.timedelta(days=k)
        lines.append("D" + F + day.isoformat() + F + "4")
        lines.append(roster("주간", "약제부 " + PHARMACISTS[k % len(PHARMACISTS)] + " 2231"))
        lines.append(roster("주간", "감염내과 " + PHYSICIANS[k % len(PHYSICIANS)] + " 2245"))
        lines.append(roster("야간", "약제부 " + PHARMACISTS[(k + 3) % len(PHARMACISTS)] + " 2239"))
        lines.append(roster("야간", "감염내과 " + PHYSICIANS[(k + 2) % len(PHYSICIANS)] + " 8119"))
    return lines


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    start = datetime.date.fromisoformat(sys.argv[2]) if len(sys.argv) > 2 else START
    assert len(MAIN) == 40
    write(os.path.join(out, "Veltrane_Desktop.txt"), "\n".join(MAIN) + "\n---\n" + MAIN_STYLE)
    write(os.path.join(out, "Veltrane_Desktop.duty.txt"), "\n".join(duty_lines(start)) + "\n---\n" + DUTY_STYLE)


if __name__ == "__main__":
    main()
