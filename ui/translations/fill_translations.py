#!/usr/bin/env python3
"""Fills the translation files after lupdate.

ch.ts gets the Simplified Chinese texts of ZH below; en.ts gets every source text as its own
translation (so en.qm is not empty). Texts without a Chinese entry are listed and left unfinished.

    lupdate -no-obsolete -locations none ui kit folders... -ts ui/translations/ch.ts ui/translations/en.ts
    python3 ui/translations/fill_translations.py
"""
import os
import sys
import xml.etree.ElementTree as ET

ZH = {
    "(Video transcoding improves editing compatibility,but takes longer.)": "（视频转码可提高编辑兼容性，但耗时更长。）",
    "Browse": "浏览",
    "Cancel": "取消",
    "Convert": "转换",
    "Converting": "转换中",
    "Cut": "剪辑",
    "Delete task": "删除任务",
    "Dialog": "对话框",
    "Failed": "失败",
    "File Name": "文件名",
    "Finished": "已完成",
    "Folder": "文件夹",
    "Height": "高度",
    "Merge": "合并",
    # The font family of the interface: the Chinese build uses the CJK font installed with the program.
    "Microsoft YaHei UI": "WenQuanYi Micro Hei",
    "Ok": "确定",
    "On": "开启",
    "Open Directory": "选择文件夹",
    "Open Output Path": "打开输出目录",
    "Outoput file": "输出文件",
    "Output Option": "输出选项",
    "Output Options": "输出选项",
    "Output dir": "输出目录",
    "OutputOptionSetting": "输出选项设置",
    "Playback edit tool 1.0": "回放编辑工具 1.0",
    "Playback title": "回放标题",
    "Remarks": "备注",
    "Settings": "设置",
    "Source files": "源文件",
    "Status": "状态",
    "SystemSetting": "系统设置",
    "Task type": "任务类型",
    "The task is in progress, is it out?": "任务正在进行中，确定要退出吗？",
    "Time consume:": "耗时：",
    "Transcode ": "转码 ",
    "Wait": "等待",
    "Width": "宽度",
    "cut fail.": "剪辑失败。",
    "edit": "编辑",
    "exit": "退出",
    "merge fail.": "合并失败。",
    "read file fail.": "读取文件失败。",
    "template type is conflict.": "模板类型冲突。",
}


def fill(path, translate):
    tree = ET.parse(path)
    missing = []
    for message in tree.getroot().iter("message"):
        source = message.find("source").text or ""
        translation = message.find("translation")
        text = translate(source)
        if text is None:
            missing.append(source)
            continue
        translation.text = text
        translation.attrib.pop("type", None)
    tree.write(path, encoding="utf-8", xml_declaration=True)
    with open(path, "r+", encoding="utf-8") as f:
        body = f.read().replace("<?xml version='1.0' encoding='utf-8'?>", '<?xml version="1.0" encoding="utf-8"?>\n<!DOCTYPE TS>', 1)
        f.seek(0)
        f.write(body)
        f.truncate()
    return missing


here = os.path.dirname(os.path.abspath(__file__))
missing = fill(os.path.join(here, "ch.ts"), ZH.get)
fill(os.path.join(here, "en.ts"), lambda s: s)
for s in missing:
    print("no Chinese text for:", repr(s), file=sys.stderr)
sys.exit(1 if missing else 0)
