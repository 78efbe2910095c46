#!/usr/bin/python3
"""Draws the wizard's artwork: step banners, page pictures, the loading
spinner and the application icon.

Run from anywhere: scripts/draw-artwork.py. Needs python3-pil and the
fonts-wqy-microhei CJK font. The output is committed, so the build never
runs this script; run it again after changing a drawing and commit the
result.

Shapes are drawn at four times the size and scaled down, which gives smooth
edges; text is drawn at the final size so it stays sharp.

Every picture is written twice: name.png at its design size and name@2x.png
at twice that, drawn afresh (not enlarged) for displays scaled above 100 %.
Qt picks the @2x file by the display's device pixel ratio.
"""

import math
import os

from PIL import Image, ImageDraw, ImageFilter, ImageFont

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMG = os.path.join(TOP, "resources", "img")
ICONS = os.path.join(TOP, "resources", "icons")
FONT_PATH = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"

# The program's palette.
BLUE = (56, 164, 245)
LIGHT_BLUE = (99, 193, 255)
DARK_BLUE = (37, 128, 207)
GREY = (214, 217, 222)
TEXT = (71, 71, 71)
FRAME = (224, 224, 224)
WHITE = (255, 255, 255)
MUTED = (150, 157, 168)
RULE = (234, 238, 243)
FOLDER = (255, 193, 69)
FOLDER_DARK = (240, 165, 30)
GREEN = (38, 180, 120)

SS = 4  # supersampling factor for shapes
# Output pixels per design pixel: 1 for name.png, 2 for name@2x.png. Drawing
# code works in design pixels throughout; Canvas and text() apply the scale.
SCALES = (1, 2)
scale = 1

STEPS = ["文件准备", "选择目录", "导出信息", "提取信息", "文件上传", "完成"]


def font(px):
    return ImageFont.truetype(FONT_PATH, px, index=0)


class Canvas:
    """A drawing surface in final-size coordinates, backed by an image
    SS times larger."""

    def __init__(self, w, h, background=WHITE):
        self.w, self.h = w * scale, h * scale
        # An opaque RGB surface drawn in RGBA mode: Pillow blends translucent
        # fills only in that combination.
        self.big = Image.new("RGB", (self.w * SS, self.h * SS), background)
        self.draw = ImageDraw.Draw(self.big, "RGBA")

    @staticmethod
    def s(values):
        return [round(v * SS * scale) for v in values]

    def rect(self, box, fill=None, outline=None, width=1, radius=0):
        self.draw.rounded_rectangle(self.s(box), radius=radius * SS * scale, fill=fill,
                                    outline=outline, width=round(width * SS * scale))

    def ellipse(self, box, fill=None, outline=None, width=1):
        self.draw.ellipse(self.s(box), fill=fill, outline=outline, width=round(width * SS * scale))

    def circle(self, cx, cy, r, **kw):
        self.ellipse((cx - r, cy - r, cx + r, cy + r), **kw)

    def line(self, points, fill, width=1):
        self.draw.line(self.s([c for p in points for c in p]), fill=fill, width=round(width * SS * scale),
                       joint="curve")

    def polygon(self, points, fill=None, outline=None):
        self.draw.polygon(self.s([c for p in points for c in p]), fill=fill, outline=outline)

    def arc(self, box, start, end, fill, width):
        self.draw.arc(self.s(box), start, end, fill=fill, width=round(width * SS * scale))

    def shadow(self, box, radius, blur, offset=(0, 2), alpha=40):
        """A soft shadow under a rounded box."""
        mask = Image.new("L", self.big.size, 0)
        ImageDraw.Draw(mask).rounded_rectangle(
            self.s((box[0] + offset[0], box[1] + offset[1], box[2] + offset[0], box[3] + offset[1])),
            radius=radius * SS * scale, fill=alpha)
        mask = mask.filter(ImageFilter.GaussianBlur(blur * SS * scale))
        self.big.paste((30, 60, 100), (0, 0), mask)

    def gradient_rect(self, box, top, bottom, radius=0):
        """A vertical gradient from colour top to colour bottom, clipped to a
        rounded box."""
        x0, y0, x1, y1 = self.s(box)
        grad = Image.new("RGB", (x1 - x0, y1 - y0))
        gd = ImageDraw.Draw(grad)
        for y in range(y1 - y0):
            t = y / max(1, y1 - y0 - 1)
            gd.line([(0, y), (x1 - x0, y)], fill=tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)))
        mask = Image.new("L", grad.size, 0)
        ImageDraw.Draw(mask).rounded_rectangle((0, 0, grad.size[0] - 1, grad.size[1] - 1),
                                               radius=radius * SS * scale, fill=255)
        self.big.paste(grad, (x0, y0), mask)

    def image(self):
        return self.big.resize((self.w, self.h), Image.LANCZOS)


def text(img, xy, s, px, fill, anchor="la"):
    ImageDraw.Draw(img).text((xy[0] * scale, xy[1] * scale), s, font=font(px * scale), fill=fill, anchor=anchor)


def wrap(s, px, width):
    """Splits Chinese text into lines no wider than width pixels."""
    f = font(px)
    lines, line = [], ""
    for ch in s:
        if f.getlength(line + ch) > width and line:
            lines.append(line)
            line = ""
        line += ch
    lines.append(line)
    return lines


def scaled_name(name):
    """name.png at 1x, name@2x.png at 2x."""
    if scale == 1:
        return name
    stem, ext = os.path.splitext(name)
    return "%s@%dx%s" % (stem, scale, ext)


def save(img, name):
    path = os.path.join(IMG, scaled_name(name))
    img.save(path, optimize=True)
    print("wrote", os.path.relpath(path, TOP), img.size)


# ---------------------------------------------------------------- banners

def check_mark(c, cx, cy, size, fill, width):
    c.line([(cx - size * 0.45, cy + size * 0.02), (cx - size * 0.1, cy + size * 0.35),
            (cx + size * 0.48, cy - size * 0.32)], fill=fill, width=width)


def banner(current):
    w, h = 960, 70
    c = Canvas(w, h)
    c.gradient_rect((0, 0, w, h), (250, 252, 255), (241, 247, 254))
    c.rect((0, h - 1, w, h), fill=(226, 233, 242))
    centres = [80 + 160 * i for i in range(len(STEPS))]
    cy = 24
    for i in range(len(STEPS) - 1):
        colour = BLUE if i + 1 <= current else GREY
        c.line([(centres[i] + 22, cy), (centres[i + 1] - 22, cy)], fill=colour, width=2)
    for i, cx in enumerate(centres):
        if i == current:
            c.circle(cx, cy, 17, fill=BLUE + (48,))
            c.circle(cx, cy, 13, fill=BLUE)
        elif i < current:
            c.circle(cx, cy, 12, fill=WHITE, outline=BLUE, width=2)
            check_mark(c, cx, cy, 11, BLUE, 2.2)
        else:
            c.circle(cx, cy, 12, fill=WHITE, outline=GREY, width=2)
    img = c.image()
    for i, cx in enumerate(centres):
        if i == current:
            text(img, (cx, cy + 1), str(i + 1), 15, WHITE, "mm")
            text(img, (cx, 53), STEPS[i], 14, DARK_BLUE, "mm")
        elif i < current:
            text(img, (cx, 53), STEPS[i], 14, TEXT, "mm")
        else:
            text(img, (cx, cy + 1), str(i + 1), 13, MUTED, "mm")
            text(img, (cx, 53), STEPS[i], 14, MUTED, "mm")
    return img


# ---------------------------------------------------------- inner pictures
# The inner pictures are drawn at (20, 76) of a 960 x 596 page; the page title
# sits at (47, 90) and the previous/next buttons at y = 510, i.e. at (27, 14)
# and y = 434 in picture coordinates.

INNER_W, INNER_H = 920, 503


def inner_chrome(c):
    """Title accent and the rules above the content and above the buttons."""
    c.rect((16, 18, 20, 36), fill=BLUE, radius=2)
    c.rect((16, 50, INNER_W - 16, 51), fill=RULE)
    c.rect((16, 418, INNER_W - 16, 419), fill=RULE)


def inner_frame():
    c = Canvas(INNER_W, INNER_H)
    inner_chrome(c)
    # Card behind the page content (page x 140..860, y 160..482).
    box = (120, 84, 840, 406)
    c.shadow(box, 10, 6, alpha=28)
    c.rect(box, fill=WHITE, outline=(226, 233, 242), width=1, radius=10)
    return c.image()


def finish_picture():
    c = Canvas(INNER_W, INNER_H)
    inner_chrome(c)
    cx, cy = 460, 170
    for r, a in ((96, 18), (78, 34), (62, 60)):
        c.circle(cx, cy, r, fill=BLUE + (a,))
    c.gradient_rect((cx - 48, cy - 48, cx + 48, cy + 48), LIGHT_BLUE, DARK_BLUE, radius=48)
    check_mark(c, cx + 2, cy + 2, 52, WHITE, 9)
    # Confetti around the badge.
    for (dx, dy, r, col) in ((-150, -70, 5, LIGHT_BLUE), (-120, 40, 3, FOLDER), (-175, 10, 3, GREEN),
                             (140, -80, 4, FOLDER), (165, 20, 5, LIGHT_BLUE), (125, 65, 3, GREEN),
                             (-60, -112, 3, GREEN), (70, -110, 3, LIGHT_BLUE)):
        c.circle(cx + dx, cy + dy, r, fill=col + (200,))
    img = c.image()
    text(img, (cx, 300), "软件信息提取已全部完成", 26, TEXT, "mm")
    text(img, (cx, 342), "表格已导出并上传到平台后，即可在平台中管理这些软件。", 14, MUTED, "mm")
    text(img, (cx, 366), "点击“关闭”按钮退出程序。", 14, MUTED, "mm")
    return img


# ------------------------------------------------------------- the diagram

def folder_icon(c, x, y, scale=1.0, colour=FOLDER, dark=FOLDER_DARK):
    s = scale
    c.rect((x, y + 1 * s, x + 8 * s, y + 5 * s), fill=dark, radius=1.5 * s)
    c.rect((x, y + 3 * s, x + 18 * s, y + 16 * s), fill=colour, radius=2 * s)
    c.rect((x, y + 6 * s, x + 18 * s, y + 7 * s), fill=dark + (120,))


def file_icon(c, x, y, colour, scale=1.0):
    s = scale
    c.polygon([(x, y), (x + 10 * s, y), (x + 15 * s, y + 5 * s), (x + 15 * s, y + 18 * s), (x, y + 18 * s)],
              fill=WHITE, outline=None)
    c.rect((x, y, x + 15 * s, y + 18 * s), outline=(190, 198, 210), width=1, radius=1.5 * s)
    c.polygon([(x + 10 * s, y), (x + 15 * s, y + 5 * s), (x + 10 * s, y + 5 * s)], fill=(214, 220, 230))
    c.rect((x - 2 * s, y + 9 * s, x + 12 * s, y + 15 * s), fill=colour, radius=1.5 * s)


EXE = BLUE
MSI = (136, 96, 222)
OTHER = (160, 168, 180)


def diagram():
    c = Canvas(INNER_W, INNER_H)
    c.rect((16, 18, 20, 36), fill=BLUE, radius=2)
    c.rect((16, 50, INNER_W - 16, 51), fill=RULE)

    # An explorer-like card holding the folder tree.
    card = (40, 66, 440, 402)
    c.shadow(card, 10, 6, alpha=30)
    c.rect(card, fill=WHITE, outline=(226, 233, 242), radius=10)
    c.gradient_rect((41, 67, 439, 100), (246, 250, 255), (236, 245, 254), radius=9)
    c.rect((41, 92, 439, 100), fill=(236, 245, 254))
    c.rect((41, 100, 439, 101), fill=(226, 233, 242))
    folder_icon(c, 58, 76, 0.8)

    rows = [
        (0, "folder", "软件信息提取目录", None),
        (1, EXE, "办公套件安装包.exe", "a"),
        (1, MSI, "数据库客户端.msi", "a"),
        (1, EXE, "截图工具.exe", "a"),
        (1, "folder", "视频播放器", "b"),
        (2, EXE, "player.exe", "b"),
        (2, OTHER, "codec.dll", "b"),
        (2, OTHER, "skin.dat", "b"),
        (1, "folder", "压缩工具", "b"),
        (2, EXE, "unzip.exe", "b"),
        (2, OTHER, "unzip.dll", "b"),
    ]
    row_h, y0, x0, indent = 26, 110, 62, 26
    group_bg = {"a": BLUE + (26,), "b": GREEN + (26,)}
    spans = {}
    for n, (depth, _, _, group) in enumerate(rows):
        if group:
            top = y0 + n * row_h
            spans.setdefault(group, [top, top + row_h])[1] = top + row_h
    c.rect((52, spans["a"][0] + 1, 428, spans["a"][1] - 1), fill=group_bg["a"], radius=6)
    c.rect((52, spans["b"][0] + 1, 428, spans["b"][1] - 1), fill=group_bg["b"], radius=6)

    # Tree connectors: every row hangs off the nearest row one level up.
    parents = []
    for n, (depth, _, _, _) in enumerate(rows):
        while len(parents) > depth:
            parents.pop()
        mid = y0 + n * row_h + row_h / 2
        if depth > 0:
            px = x0 + (depth - 1) * indent + 9
            top = y0 + parents[-1] * row_h + row_h - 4
            c.line([(px, top), (px, mid), (px + 13, mid)], fill=(196, 204, 216), width=1.2)
        parents.append(n)

    labels = []
    for n, (depth, kind, name, _) in enumerate(rows):
        x = x0 + depth * indent
        y = y0 + n * row_h + 4
        if kind == "folder":
            folder_icon(c, x, y, 1.0)
        else:
            file_icon(c, x + 2, y, kind, 0.95)
        labels.append((x + 26, y0 + n * row_h + row_h / 2, name, depth == 0 or kind == "folder"))

    # Callouts: one per rule, joined to their group by a bracket.
    callouts = [
        ("a", BLUE, "1", "单个文件的软件",
         "安装包或免安装软件只有一个文件时，直接放在提取目录的根目录。"),
        ("b", GREEN, "2", "多个文件的软件",
         "新建一个以软件名称命名的文件夹，把该软件的全部文件放进去。"),
    ]
    boxes = {"a": (500, 104, 880, 196), "b": (500, 236, 880, 328)}
    for group, colour, number, head, body in callouts:
        top, bottom = spans[group]
        bx = 448
        c.line([(bx - 6, top + 4), (bx, top + 4), (bx, bottom - 4), (bx - 6, bottom - 4)], fill=colour, width=2)
        box = boxes[group]
        mid_group = (top + bottom) / 2
        mid_box = (box[1] + box[3]) / 2
        c.line([(bx, mid_group), (472, mid_group), (472, mid_box), (box[0], mid_box)], fill=colour, width=2)
        c.circle(box[0], mid_box, 3.5, fill=colour)
        c.shadow(box, 8, 5, alpha=24)
        c.rect(box, fill=WHITE, outline=colour + (140,), width=1.5, radius=8)
        c.rect((box[0] + 1, box[1] + 10, box[0] + 5, box[3] - 10), fill=colour, radius=2)
        c.circle(box[0] + 30, box[1] + 26, 12, fill=colour)

    # Tags that name the rule on the two program folders.
    tags = []
    for n, (depth, kind, name, group) in enumerate(rows):
        if kind == "folder" and group == "b":
            x = x0 + depth * indent + 26 + font(14).getlength(name) + 12
            mid = y0 + n * row_h + row_h / 2
            c.rect((x, mid - 9, x + 108, mid + 9), fill=WHITE, outline=GREEN + (150,), width=1, radius=9)
            tags.append((x + 54, mid))

    # Tip strip under everything.
    tip = (40, 428, 880, 470)
    c.rect(tip, fill=(255, 248, 232), outline=(250, 214, 150), width=1, radius=8)
    c.circle(64, 449, 10, fill=FOLDER_DARK)

    img = c.image()
    for x, y, name, strong in labels:
        text(img, (x, y), name, 14, TEXT if strong else (96, 102, 112), "lm")
    text(img, (82, 84), "示例：提取目录的结构", 13, MUTED, "lm")
    for group, colour, number, head, body in callouts:
        box = boxes[group]
        text(img, (box[0] + 30, box[1] + 27), number, 15, WHITE, "mm")
        text(img, (box[0] + 52, box[1] + 26), head, 16, TEXT, "lm")
        for k, line in enumerate(wrap(body, 13, box[2] - box[0] - 44)):
            text(img, (box[0] + 30, box[1] + 52 + k * 20), line, 13, (96, 102, 112), "lm")
    for x, y in tags:
        text(img, (x, y), "以软件名称命名", 12, GREEN, "mm")
    text(img, (64, 450), "!", 14, WHITE, "mm")
    text(img, (84, 449), "只支持 exe、msi 格式的安装包；压缩包或 ISO 镜像请先解压，再按上述规则存放。", 14,
         (140, 96, 20), "lm")
    return img


# ---------------------------------------------------------- welcome picture
# Drawn at (1, -1) of the page; the page title is at (47, 90), the paragraph at
# (322, 392) 317 wide and the start button at (436, 487) 86 x 32.

def welcome():
    w, h = 958, 594
    c = Canvas(w, h)
    c.gradient_rect((0, 0, w, h), (255, 255, 255), (240, 247, 255))
    # Soft shapes in the corners.
    c.circle(900, 40, 170, fill=BLUE + (16,))
    c.circle(960, 140, 110, fill=BLUE + (14,))
    c.circle(40, 600, 150, fill=BLUE + (14,))
    # Waves along the bottom edge.
    for k, (amp, base, alpha) in enumerate(((14, 546, 50), (10, 562, 150))):
        pts = [(x, base + amp * math.sin((x / w) * 2 * math.pi * 1.3 + k * 1.7)) for x in range(0, w + 8, 8)]
        c.polygon(pts + [(w, h), (0, h)], fill=BLUE + (alpha,))

    # Illustration: a folder of packages flows into a workbook.
    cx, cy = 479, 215
    c.circle(cx, cy, 150, fill=BLUE + (12,))
    c.circle(cx, cy, 112, fill=BLUE + (16,))

    # Folder with packages.
    fx, fy = cx - 190, cy - 40
    c.shadow((fx, fy + 10, fx + 130, fy + 108), 10, 8, alpha=40)
    c.rect((fx, fy, fx + 54, fy + 24), fill=FOLDER_DARK, radius=8)
    for i, col in enumerate((EXE, MSI, GREEN)):
        c.rect((fx + 16 + i * 30, fy - 12 + i * 6, fx + 44 + i * 30, fy + 40), fill=WHITE,
               outline=(200, 208, 220), width=1.5, radius=3)
        c.rect((fx + 20 + i * 30, fy + i * 6 + 2, fx + 40 + i * 30, fy + i * 6 + 10), fill=col, radius=2)
    c.gradient_rect((fx, fy + 14, fx + 130, fy + 108), (255, 206, 96), FOLDER_DARK, radius=10)

    # Flow arrow.
    for i in range(3):
        x = cx - 42 + i * 22
        c.circle(x, cy + 14, 5, fill=BLUE + (90 + i * 60,))
    c.polygon([(cx + 26, cy + 2), (cx + 42, cy + 14), (cx + 26, cy + 26)], fill=BLUE)

    # Workbook sheet.
    sx, sy = cx + 62, cy - 78
    c.shadow((sx, sy, sx + 136, sy + 176), 10, 9, alpha=45)
    c.rect((sx, sy, sx + 136, sy + 176), fill=WHITE, outline=(210, 220, 234), width=1.5, radius=10)
    c.gradient_rect((sx, sy, sx + 136, sy + 34), LIGHT_BLUE, BLUE, radius=10)
    c.rect((sx, sy + 24, sx + 136, sy + 34), fill=BLUE)
    for r in range(5):
        y = sy + 48 + r * 24
        c.rect((sx + 14, y, sx + 40, y + 10), fill=(226, 236, 248), radius=3)
        c.rect((sx + 48, y, sx + 122 - (r % 3) * 14, y + 10), fill=(236, 241, 247), radius=3)
    # Magnifier with a seal: the signature check.
    mx, my = sx + 128, sy + 150
    c.circle(mx, my, 30, fill=WHITE + (235,), outline=DARK_BLUE, width=6)
    c.line([(mx + 21, my + 21), (mx + 42, my + 42)], fill=DARK_BLUE, width=10)
    check_mark(c, mx, my + 1, 26, GREEN, 5)

    img = c.image()
    text(img, (cx, 345), "安装包与绿色软件信息，一步提取", 22, DARK_BLUE, "mm")
    text(img, (w - 24, h - 16), "版本 1.0", 12, WHITE, "rs")
    return img


# ------------------------------------------------------------------ spinner

def spinner():
    frames = []
    count = 18
    for k in range(count):
        c = Canvas(40, 40)
        c.ellipse((6, 6, 34, 34), outline=(226, 240, 253), width=4)
        start = k * 360 / count - 90
        c.arc((6, 6, 34, 34), start - 40, start, fill=(170, 215, 250), width=4)
        c.arc((6, 6, 34, 34), start, start + 100, fill=BLUE, width=4)
        frames.append(c.image().convert("P", palette=Image.ADAPTIVE, colors=64))
    path = os.path.join(IMG, scaled_name("load.gif"))
    frames[0].save(path, save_all=True, append_images=frames[1:], duration=50, loop=0, optimize=False,
                   disposal=1)
    print("wrote", os.path.relpath(path, TOP), "(%d frames)" % count)


# --------------------------------------------------------------------- icon

ICON_SIZES = [256, 128, 96, 72, 64, 48, 32, 24, 16]


def icon(size):
    """The application icon: a workbook sheet with a magnifier on a blue
    tile. Small sizes drop the detail that would turn to noise."""
    u = size / 64.0  # drawn on a 64-unit grid
    c = Canvas(size, size)
    small = size <= 24
    pad = 2 * u if size > 32 else 1 * u
    tile = (pad, pad, size - pad, size - pad)
    c.gradient_rect(tile, LIGHT_BLUE, DARK_BLUE, radius=13 * u)
    # Sheet.
    sx0, sy0, sx1, sy1 = 14 * u, 10 * u, 44 * u, 52 * u
    c.rect((sx0, sy0, sx1, sy1), fill=WHITE, radius=3.5 * u)
    rows = 3 if small else 5
    for r in range(rows):
        y = sy0 + (9 + r * (32 / rows)) * u
        hgt = (3.5 if small else 2.8) * u
        c.rect((sx0 + 5 * u, y, sx0 + 11 * u, y + hgt), fill=LIGHT_BLUE, radius=1 * u)
        c.rect((sx0 + 13 * u, y, sx1 - 5 * u, y + hgt), fill=(200, 216, 234), radius=1 * u)
    # Magnifier.
    mx, my, mr = 42 * u, 40 * u, 11 * u
    ring = (4.5 if small else 3.5) * u
    c.circle(mx, my, mr + ring / 2 + 1.5 * u, fill=DARK_BLUE + (110,))
    c.circle(mx, my, mr, fill=WHITE, outline=(255, 193, 69), width=ring)
    c.line([(mx + 8.5 * u, my + 8.5 * u), (mx + 15 * u, my + 15 * u)], fill=(255, 193, 69), width=ring * 1.3)
    if not small:
        check_mark(c, mx, my + 0.5 * u, 11 * u, GREEN, 2.6 * u)
    # Everything lies on the tile, so the tile's shape is the icon's alpha.
    mask = Image.new("L", c.big.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(c.s(tile), radius=13 * u * SS, fill=255)
    img = c.image().convert("RGBA")
    img.putalpha(mask.resize((size, size), Image.LANCZOS))
    return img


def icons():
    images = {}
    for n in ICON_SIZES:
        images[n] = icon(n)
        folder = os.path.join(ICONS, "hicolor", "%dx%d" % (n, n), "apps")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "pelbrook.png")
        images[n].save(path, optimize=True)
        print("wrote", os.path.relpath(path, TOP))
    ico = os.path.join(ICONS, "pelbrook.ico")
    images[256].save(ico, sizes=[(n, n) for n in ICON_SIZES],
                     append_images=[images[n] for n in ICON_SIZES[1:]])
    print("wrote", os.path.relpath(ico, TOP))


def main():
    global scale
    os.makedirs(IMG, exist_ok=True)
    for scale in SCALES:
        for i in range(len(STEPS)):
            save(banner(i), "banner_%d.png" % i)
        save(inner_frame(), "innerFrame.png")
        save(finish_picture(), "frame_finish.png")
        save(diagram(), "frame_picture.png")
        save(welcome(), "frame_welcome.png")
        spinner()
    # The icon comes in every size it is shown at; the window system picks one.
    scale = 1
    icons()


if __name__ == "__main__":
    main()
