#pragma once

// The program's own icons, drawn with QPainter: one per command of the command bar, one per kind
// of list row, and the application's icon. Nothing is loaded from files, so the icons look the
// same wherever the program runs.

#include <QIcon>

#include "batch/file_list.h"

namespace Kvx {

enum class Pictogram {
  Folder,       // 选择目录
  AddFile,      // 添加文件
  SelectAll,    // 全部选择
  SelectNone,   // 取消选择
  Invert,       // 反向选择
  RemoveSel,    // 移除选择
  ClearAll,     // 清空文件
  ExportList,   // 输出列表
  Settings,     // 高级设置
  InfoPane,     // 转换信息
  LogPane,      // 操作日志
  Restore,      // 恢复窗口
  Points,       // 点要素
  Lines,        // 线要素
  Regions,      // 面要素
  AllLayers,    // 全要素输出
  Texts,        // 文字转换
  Arcs,         // 输出弧段
  NetNodes,     // 网络结点
  Spreadsheet,  // 输出属性
  LegendTable,  // 图例转属性
  LegendCode,   // 图例编码
  Avl,          // 生成AVL图例
  WebHome,      // 官方网站
  Tutorial,     // 软件教程
  Help,         // 在线帮助
  Update,       // 检查更新
  About,        // 关于
  Exit,         // 退出
  Expand,       // 全部展开
  Collapse,     // 全部折叠
  Reveal,       // 打开源文件位置
  Preview,      // 预览
};

// A command's icon at 16, 24, 32 and 48 pixels; `onDark` draws its dark lines light, for a dark
// theme.
QIcon CommandIcon(Pictogram pictogram, bool onDark = false);
// The 16-pixel icon of a list row of `kind` (None: a blank sheet).
QIcon RowKindIcon(RowKind kind);
// The application's icon (window, about box).
QIcon ApplicationIcon();

}  // namespace Kvx
