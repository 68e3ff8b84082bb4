#!/usr/bin/env python3
"""Draws the sample antibiotic chart (Veltrane_Desktop.png): an A4 page at 150 dpi listing
antibiotic classes, agents and how freely each may be prescribed. ImageMagick's convert does
the drawing; the Korean text needs Debian's fonts-nanum.

    content/sample/make_chart.py [output.png]
"""
import os
import subprocess
import sys

WIDTH, HEIGHT = 1240, 1754
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

COLUMNS = [(60, "계열"), (330, "약제"), (700, "사용 제한"), (920, "용법 · 비고")]


def quote(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def text(x, y, s, size, font=FONT, fill="#202020"):
    return f"font {quote(font)} font-size {size} fill {quote(fill)} text {x},{y} {quote(s)}"


def header(cmds):
    cmds.append("fill '#0d47a1' rectangle 0,0 1240,150")
    cmds.append(text(60, 80, "항생제 사용 제한 안내", 50, BOLD, "white"))
    cmds.append(text(60, 125, "약제부 · 감염관리실   2026년 12월 개정", 24, FONT, "#e3f2fd"))
    cmds.append("fill '#e8eaf6' rectangle 40,180 1200,230")
    for x, title in COLUMNS:
        cmds.append(text(x, 215, title, 26, BOLD, "#1a237e"))


def rows(cmds):
    y = 230
    for group, agents in CHART:
        top = y
        for i, (agent, level, note) in enumerate(agents):
            if i % 2:
                cmds.append(f"fill '#f5f5f5' rectangle 300,{y} 1200,{y + 52}")
            label, colour = LEVELS[level]
            cmds.append(text(330, y + 35, agent, 24))
            cmds.append(f"fill {quote(colour)} roundrectangle 700,{y + 10} 890,{y + 44} 8,8")
            cmds.append(text(712, y + 36, label, 21, BOLD, "white"))
            cmds.append(text(920, y + 35, note, 21, FONT, "#424242"))
            y += 52
        cmds.append(text(60, top + 35, group, 25, BOLD, "#0d47a1"))
        cmds.append(f"stroke '#9fa8da' stroke-width 2 line 40,{y} 1200,{y} stroke none")
    return y


def legend(cmds, y):
    y += 60
    cmds.append(text(60, y, "제한 등급", 28, BOLD, "#1a237e"))
    explanations = {
        "free": "처방 제한 없음",
        "notice": "처방 후 24시간 이내 사용 사유 입력",
        "approval": "처방 전 항생제 관리팀 승인 (내선 2231)",
        "id": "감염내과 전문의 협진 후 사용",
    }
    for key, (label, colour) in LEVELS.items():
        y += 50
        cmds.append(f"fill {quote(colour)} roundrectangle 60,{y - 28} 250,{y + 6} 8,8")
        cmds.append(text(72, y - 2, label, 21, BOLD, "white"))
        cmds.append(text(280, y, explanations[key], 23))
    cmds.append(text(60, HEIGHT - 60, "문의: 약제부 임상약제팀 (내선 2231) · 감염관리실 (내선 2245)", 22, FONT, "#616161"))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "Veltrane_Desktop.png")
    cmds = []
    header(cmds)
    legend(cmds, rows(cmds))
    subprocess.run(["convert", "-size", f"{WIDTH}x{HEIGHT}", "xc:white", "-draw", "\n".join(cmds),
                    "-strip", "-depth", "8", "-define", "png:color-type=2", out], check=True)


if __name__ == "__main__":
    main()
