// JModuleObj: a block of the dataflow graph. A plug-in's module class
// derives from it (through JAddObj), sets `igm` (input count), `ogm` (output
// count) and `moduleColor`, and overrides the virtual operations it needs.
//
// Evaluation: when a value arrives on input n over a link, the host calls
// engine(n, link); the block reads the value with link.access(data), which
// calls the source block's access(output, link, data). A block announces a
// new value on output n with broadcast(n), which calls engine on every block
// linked to that output, in the order the links were made.
//
// Owns its view and module state. It does not own its links: the graph
// (JGraph) makes and removes them and keeps the two link lists of each block
// up to date; a copy of a block starts without links and outside any graph.
// Invariants: the link lists hold only links whose source (output list) or
// target (input list) is this block.
// Thread safety: host's thread only.
//
// Virtual operations, in the host's table order (after JObject's five and
// JViewObj's three, startup, reset and close): paint, getProperties,
// updateProperty, inputTag, outputTag, inputType, outputType, draw, access,
// inputAllowed, outputAllowed, inputArea, outputArea, inputFace, outputFace,
// inputPoint, outputPoint, engine, addButton, broadcast.
#pragma once

#include <vector>

#include "JArray.h"
#include "JColor.h"
#include "JFPoint.h"
#include "JFRect.h"
#include "JFocusSet.h"
#include "JGraphics.h"
#include "JRect.h"
#include "JRegion.h"
#include "JString.h"
#include "JViewObj.h"

class JComponent;
class JDataType;
class JGraph;
class JLinkObj;
class JProperty;

class J_EXPORT JModuleObj : public JViewObj {
 public:
  // Face codes returned by inputFace and outputFace.
  static constexpr int LEFT_FACE = 0;
  static constexpr int TOP_FACE = 1;
  static constexpr int RIGHT_FACE = 2;

  // No ports, light grey, empty label.
  JModuleObj();
  // Copies the view and module state (extent, igm, ogm, moduleColor, label);
  // the copy has no links and belongs to no graph.
  JModuleObj(const JModuleObj& other);
  // Copies the same state; the target keeps its own links and graph.
  JModuleObj& operator=(const JModuleObj& other);
  ~JModuleObj() override;

  const char* className() const override;
  JObject* clone() const override;

  // Draws the block's frame (a raised rectangle in moduleColor with a black
  // outline) and then calls draw with the pixel rectangle of getIExtent and
  // the colour black. Draws nothing when that rectangle does not meet
  // `region`.
  virtual void paint(JGraphics graphics, double dx, double dy, JRegion& region, double scale);
  // The base list: one JStringProperty, "label", the block's label.
  virtual JArray getProperties();
  // True when the base took the property: a JStringProperty named "label".
  virtual bool updateProperty(JProperty& property);
  // "" for every port.
  virtual JString inputTag(int n);
  virtual JString outputTag(int n);
  // JIntegerData::id for every port.
  virtual int inputType(int n);
  virtual int outputType(int n);
  // The inside of the face; the base draws nothing.
  virtual void draw(JGraphics graphics, int x, int y, int w, int h);
  // Fill `data` with the value of output n; the base leaves it untouched.
  virtual void access(int n, JLinkObj& link, const JDataType& data);
  // True: any number of links per port.
  virtual bool inputAllowed(int n);
  virtual bool outputAllowed(int n);
  // Inputs spread along the left face, outputs along the right face.
  virtual JFRect inputArea(int n);
  virtual JFRect outputArea(int n);
  virtual int inputFace(int n);   // LEFT_FACE
  virtual int outputFace(int n);  // RIGHT_FACE
  virtual JFPoint inputPoint(int n, JLinkObj& link);
  virtual JFPoint outputPoint(int n, JLinkObj& link);
  // A value arrived on input n over `link`; the base ignores it.
  virtual void engine(int n, JLinkObj& link);
  // Adds a maker button for this block's class to `component`.
  virtual void addButton(JComponent* component);
  // Announces a new value on output n: engine(input, link) on the target of
  // every link from output n, in the order the links were made.
  virtual void broadcast(int n);

  // Port geometry in model units, relative to the block's rectangle. Ports
  // first .. first+count-1 lie evenly spread on one face, over the stretch
  // that starts `start` of the face's length from its top (left, right face)
  // or left end (top face) and is `length` of it long. Port n's point is the
  // middle of its share of the stretch, on the face; its area is a square of
  // side `size` just outside the face, centred on the point. A count below 1
  // counts as 1; the link is not used.
  JFRect topArea(int n, int first, int count, double start, double length, int size);
  JFRect leftArea(int n, int first, int count, double start, double length, int size);
  JFRect rightArea(int n, int first, int count, double start, double length, int size);
  JFPoint topPoint(int n, JLinkObj& link, int first, int count, double start, double length);
  JFPoint leftPoint(int n, JLinkObj& link, int first, int count, double start, double length);
  JFPoint rightPoint(int n, JLinkObj& link, int first, int count, double start, double length);

  // The links attached to input n (empty when none, or n out of range).
  JFocusSet inputSet(int n) const;
  // The links leaving output n, in the order they were made.
  JFocusSet outputSet(int n) const;

  // The block's rectangle in pixels: ((x + dx) * scale, (y + dy) * scale)
  // with its extent times scale, rounded and kept within +-1e9 pixels.
  JRect getIExtent(double dx, double dy, double scale) const;
  // Draws `text` centred in `rect` in the graphics' current colour.
  static void drawText(JGraphics graphics, const JString& text, const JRect& rect);
  // Twice the depth of the frame's raised border, in pixels.
  int depth2() const;
  // Asks the host to draw the block again; this host counts the requests.
  void repaint();
  int repaintRequests() const { return repaintRequests_; }

  // Records a copy of this block in the process-wide class registry as the
  // prototype of its class (see JClassRegistry). Returns the class name, or
  // "" when the class was already registered or the copy failed.
  JString Register();
  // Adds a button that makes blocks of `prototype`'s class to `component`.
  // Only the class name is kept; the prototype may be destroyed afterwards.
  static void addModuleButton(JComponent* component, JModuleObj* prototype);

  JString getLabel() const { return label_; }
  void setLabel(const JString& label) { label_ = label; }
  // The graph that owns this block, or null.
  JGraph* graph() const { return graph_; }

  int igm = 0;  // number of inputs
  int ogm = 0;  // number of outputs
  JColor moduleColor = JColor::lightGray;

 private:
  friend class JGraph;

  JString label_;
  int repaintRequests_ = 0;
  JGraph* graph_ = nullptr;
  // Rebuilds the output index from outputLinks_ after the graph changed it.
  void indexOutputs();

  std::vector<JLinkObj*> inputLinks_;   // in the order made
  std::vector<JLinkObj*> outputLinks_;  // in the order made
  // The links of every output in one array, grouped by output and in the
  // order made within each, with what broadcast needs of a link (a link's
  // target and input never change): output n's are
  // [outputStarts_[n], outputStarts_[n + 1]). A tick of a large graph is
  // mostly broadcasts, and one array keeps them from chasing a pointer per
  // output and per link. Rebuilt when stale.
  struct OutputLink {
    JModuleObj* target;
    int input;
    JLinkObj* link;
  };
  std::vector<OutputLink> outputIndex_;
  std::vector<size_t> outputStarts_;
  bool outputsStale_ = true;
};
