@vertex v
void main() {}
@fragment f
void main() {}
@technique A
pass vertex=v fragment=f cleardepth=on colormask=none blend=off
pass vertex=v fragment=f colormask=rgba
@technique B
pass vertex=v fragment=f