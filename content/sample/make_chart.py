#!/usr/bin/env python3
"""Draws the sample antibiotic chart (Veltrane_Desktop.png): a landscape sheet listing
antibiotic classes, agents and how freely each may be prescribed, in two panels, sized so
that the whole block (duty box, chart, text box) fits a 1920 x 1080 monitor with a margin.
ImageMagick's convert does the drawing; the Korean text needs Debian's fonts-nanum.

    content/sample/make_chart.py [output.png]
"""
import os
import subprocess
import sys

WIDTH, HEIGHT = 1680, 566
FONT = "/usr/share/fonts/truetype/nanum/NanumGothic.ttf"
BOLD = "/usr/share/fonts/truetype/nanum/NanumGothicBold.ttf"

# Restriction level: label and badge colour.
LEVELS = {
    "free": ("자유 사용", "#2e7d32"),
    "notice": ("사용 후 보고", "#1565c0"),
    "approval": ("사전 승인", "#ef6c00"),
    "id": ("감염내과 승인", "#c62828"),
}

CHART = [
    ("페니실린계", [("Ampicillin/sulbactam", "free", "IV 1.5-3 g q6h"),
                 ("Piperacillin/tazobactam", "notice", "IV 4.5 g q6-8h"),
                 ("Amoxicillin/clavulanate", "free", "PO 625 mg tid")]),
    ("세팔로스포린계", [("Cefazolin (1세대)", "free", "수술 예방 2 g"),
                    ("Ceftriaxone (3세대)", "free", "IV 1-2 g q24h"),
                    ("Cefepime (4세대)", "notice", "IV 2 g q8-12h"),
                    ("Ceftazidime/avibactam", "id", "CRE 확인 후")]),
    ("카바페넴계", [("Meropenem", "approval", "IV 1 g q8h"),
                 ("Imipenem/cilastatin", "approval", "IV 500 mg q6h"),
                 ("Ertapenem", "approval", "IV 1 g q24h")]),
    ("글리코펩타이드계", [("Vancomycin", "notice", "TDM 필수 (AUC 400-600)"),
                     ("Teicoplanin", "approval", "부하용량 3회")]),
    ("옥사졸리디논계", [("Linezolid", "id", "VRE, 14일 이내"),
                    ("Tedizolid", "id", "피부연조직 감염")]),
    ("퀴놀론계", [("Levofloxacin", "notice", "IV/PO 750 mg q24h"),
               ("Ciprofloxacin", "notice", "PO 500 mg bid")]),
    ("아미노글리코사이드계", [("Amikacin", "approval", "TDM 필수"),
                      ("Gentamicin", "free", "1일 1회 투여")]),
    ("기타", [("Colistin", "id", "신독성 모니터링"),
            ("Tigecycline", "id", "100 mg 후 50 mg q12h"),
            ("Metronidazole", "free", "IV/PO 500 mg q8h")]),
]

# Two panels side by side, the first three classes on the left; x offsets within a panel.
PANELS = [(30, CHART[:3]), (860, CHART[3:])]
PANEL_WIDTH = 790
COLUMNS = [(12, "계열"), (192, "약제"), (424, "사용 제한"), (568, "용법 · 비고")]
BADGE_WIDTH = 132
TOP, ROW = 116, 32


def quote(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def text(x, y, s, size, font=FONT, fill="#202020"):
    return f"font {quote(font)} font-size {size} fill {quote(fill)} text {x},{y} {quote(s)}"


def header(cmds):
    cmds.append(f"fill '#0d47a1' rectangle 0,0 {WIDTH},70")
    cmds.append(text(30, 48, "항생제 사용 제한 안내", 34, BOLD, "white"))
    cmds.append(text(1160, 28, "약제부 · 감염관리실   2026년 12월 개정", 18, FONT, "#e3f2fd"))
    cmds.append(text(1160, 56, "문의: 약제부 임상약제팀 (내선 2231) · 감염관리실 (내선 2245)", 18, FONT, "#e3f2fd"))


def panel(cmds, x0, groups):
    cmds.append(f"fill '#e8eaf6' rectangle {x0},{TOP - 34} {x0 + PANEL_WIDTH},{TOP}")
    for dx, title in COLUMNS:
        cmds.append(text(x0 + dx, TOP - 10, title, 19, BOLD, "#1a237e"))
    y = TOP
    for group, agents in groups:
        top = y
        for i, (agent, level, note) in enumerate(agents):
            if i % 2:
                cmds.append(f"fill '#f5f5f5' rectangle {x0 + 180},{y} {x0 + PANEL_WIDTH},{y + ROW}")
            label, colour = LEVELS[level]
            cmds.append(text(x0 + 192, y + 23, agent, 20))
            bx = x0 + 424
            cmds.append(f"fill {quote(colour)} roundrectangle {bx},{y + 4} {bx + BADGE_WIDTH},{y + ROW - 4} 7,7")
            cmds.append(text(bx + 10, y + 23, label, 17, BOLD, "white"))
            cmds.append(text(x0 + 568, y + 23, note, 18, FONT, "#424242"))
            y += ROW
        cmds.append(text(x0 + 12, top + 23, group, 18, BOLD, "#0d47a1"))
        cmds.append(f"stroke '#9fa8da' stroke-width 2 line {x0},{y} {x0 + PANEL_WIDTH},{y} stroke none")


def legend(cmds):
    explanations = {
        "free": "처방 제한 없음",
        "notice": "처방 후 24시간 이내 사용 사유 입력",
        "approval": "처방 전 항생제 관리팀 승인 (내선 2231)",
        "id": "감염내과 전문의 협진 후 사용",
    }
    y0 = TOP + 11 * ROW + 12
    cmds.append(f"fill '#fafafa' rectangle 30,{y0} {WIDTH - 30},{HEIGHT - 4}")
    cmds.append(text(46, y0 + 48, "제한 등급", 22, BOLD, "#1a237e"))
    for i, (key, (label, colour)) in enumerate(LEVELS.items()):
        x = 200 + (i % 2) * 740
        y = y0 + 12 + (i // 2) * 34
        cmds.append(f"fill {quote(colour)} roundrectangle {x},{y} {x + BADGE_WIDTH},{y + 26} 7,7")
        cmds.append(text(x + 10, y + 19, label, 17, BOLD, "white"))
        cmds.append(text(x + BADGE_WIDTH + 16, y + 20, explanations[key], 19))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "Veltrane_Desktop.png")
    cmds = []
    header(cmds)
    for x0, groups in PANELS:
        panel(cmds, x0, groups)
    legend(cmds)
    subprocess.run(["convert", "-size", f"{WIDTH}x{HEIGHT}", "xc:white", "-draw", "\n".join(cmds),
                    "-strip", "-depth", "8", "-define", "png:color-type=2", out], check=True)


if __name__ == "__main__":
    main()
