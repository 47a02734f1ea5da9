@shared
uniform mat4 m;
@vertex v
void main() {}
@fragment f
void main() {}
@technique T
  // one pass
  pass vertex=v fragment=f depthtest=off depthwrite=0 colormask=gb blend=srcalpha,invsrcalpha cleardepth
