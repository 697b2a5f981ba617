#!/usr/bin/env python3
"""Fills the translation files after lupdate.

ch.ts gets the Simplified Chinese texts of ZH below; en.ts gets every source text as its own
translation (so en.qm is not empty). Texts without a Chinese entry are listed and left unfinished.

    lupdate -no-obsolete -locations none ui/kit ui/app ui/windows export views -ts ui/translations/ch.ts ui/translations/en.ts
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
    # Texts of the task windows and views.
    "Form": "窗体",
    "Teacher": "老师",
    "Chat records": "聊天记录",
    "systemMsg": "系统消息",
    "Q&A records": "问答记录",
    "Playback Cut": "回放剪辑",
    "setStart": "设为起点",
    "setEnd": "设为终点",
    "add": "添加",
    "Start time:": "开始时间：",
    "End time:": "结束时间：",
    "Add File": "添加文件",
    "output option": "输出选项",
    "segments has been add(0/10)": "已添加片段(0/10)",
    "order": "序号",
    "Start-stop time": "起止时间",
    "duration": "时长",
    "Clear task history": "清除任务历史",
    "Preview": "预览",
    "Play only the kept segments, skipping the gaps": "只播放保留的片段，跳过中间部分",
    "Open File": "打开文件",
    "Images (*.vrk)": "回放文件 (*.vrk)",
    "can't parse the resource file.": "无法解析资源文件。",
    "error": "错误",
    "Video should not be less than 1 minutes": "视频不能少于 1 分钟",
    "The interception task has not been saved, is it sure to close it?": "剪辑任务尚未保存，确定要关闭吗？",
    "Clips are less than 20": "片段数不能超过 20 个",
    "duration shall be more than 10 seconds": "时长须大于 10 秒",
    "segment overlaps the added segment,please reselect": "该片段与已添加的片段重叠，请重新选择",
    "segments has been added": "已添加片段",
    "Playback Megre": "回放合并",
    "file": "文件",
    "file size": "文件大小",
    "Up": "上移",
    "Down": "下移",
    "     Remove": "     移除",
    "Clear": "清空",
    "%1 files": "%1 个文件",
    "files size more than 5G.": "文件总大小超过 5G。",
    "%1 cannot be read as a playback package.": "%1 无法作为回放包读取。",
    "%1 holds no playable video.": "%1 中没有可播放的视频。",
    "%1 uses layout template %2, but %3 uses template %4.": "%1 使用布局模板 %2，而 %3 使用模板 %4。",
    "The number of merge files cannot above 10!": "合并文件数不能超过 10 个！",
    "The megre task has not been saved, is it sure to close it?": "合并任务尚未保存，确定要关闭吗？",
    "convert fail.": "转换失败。",
    "Select file:": "选择文件：",
    "Browser...": "浏览...",
    "Output path:": "输出路径：",
    "Select...": "选择...",
    "Width:": "宽度：",
    "Height:": "高度：",
    "Video bitrate:": "视频码率：",
    "Loading resource file...": "正在加载资源文件...",
    "Video": "视频",
    "Save file": "保存文件",
    "Video (*.mp4)": "视频 (*.mp4)",
    "Warning": "警告",
    "Please select a VRK file.": "请选择一个 VRK 文件。",
    "Output file cannot be empty.": "输出文件不能为空。",
    "Param of record is nullptr!": "录制参数为空！",
    "The bitrate must be in the range of 100-3000!": "码率必须在 100-3000 之间！",
    "The width or height must be in the range of 480-3840!": "宽度或高度必须在 480-3840 之间！",
    "Cannot open VRK file": "无法打开 VRK 文件",
    "Current graphics card does not support OpenGL core mode.": "当前显卡不支持 OpenGL 核心模式。",
    "Start convert error,code:": "启动转换出错，错误码：",
    "cancelled by the user.": "已被用户取消。",
    "Cancel task": "取消任务",
    "Remove this task from the list? Its output file is kept.": "从列表中移除此任务？其输出文件会保留。",
    "Play / pause (Space)": "播放 / 暂停（空格）",
    "Start of the segment at the playhead (I)": "以播放位置作为片段开始（I）",
    "End of the segment at the playhead (O)": "以播放位置作为片段结束（O）",
    "Add the segment (Enter)": "添加片段（回车）",
    "Delete removes the selected segment; double-click jumps to its start": "Delete 删除所选片段；双击跳到片段开始",
    "Left/Right: 1 s, Shift+Left/Right: 10 s, ',' / '.': one frame, Home/End": "左/右：1 秒，Shift+左/右：10 秒，“,” / “.”：一帧，Home/End",
    "duration": "时长",
    "Clear task history": "清除任务历史",
    "Preview": "预览",
    "Play only the kept segments, skipping the gaps": "只播放保留的片段，跳过中间部分",
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
